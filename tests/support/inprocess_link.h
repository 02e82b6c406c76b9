// ServerLink straight onto the M engine in this process: the same code runs
// as on a server, with no socket, for tests that need none.
#pragma once

#include <memory>

#include "server/server_link.h"

namespace mengine {
class Host;
}

namespace dorvik {

class InProcessLink : public ServerLink {
 public:
  // The host outlives the link; one M process is created at the first
  // execution and lives as long as the link.
  explicit InProcessLink(mengine::Host& host);
  ~InProcessLink() override;

  void SetServer(const std::string& server) override;
  std::string GetServer() override;
  void SetNamespace(const std::string& ns) override;
  void SetParam(int n, const std::string& value) override;
  using ServerLink::SetParam;
  std::string GetParam(int n) override;
  void RunCode(const std::string& code) override;
  std::string GetValue() override;
  void SetValue(const std::string& value) override;
  void ClearError() override;
  int ErrorCode() override;
  std::string ErrorText() override;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace dorvik
