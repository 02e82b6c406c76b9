// ServerLink straight onto the M engine in this process: the same code runs
// as on a server, with no socket, for tests that need none.
#pragma once

#include <memory>

#include "link/property_link.h"

namespace mengine {
class Host;
class Process;
}  // namespace mengine

namespace dorvik {

class InProcessLink : public PropertyLink {
 public:
  // The host outlives the link; one M process is created at the first
  // execution and lives as long as the link.
  explicit InProcessLink(mengine::Host& host);
  ~InProcessLink() override;

  void RunCode(const std::string& code) override;

 private:
  mengine::Host& host_;
  std::unique_ptr<mengine::Process> process_;
};

}  // namespace dorvik
