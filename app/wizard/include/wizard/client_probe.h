// The start-up test that the server client is present on this machine.
#pragma once

#include <memory>

namespace dorvik {

class ClientProbe {
 public:
  virtual ~ClientProbe() = default;
  virtual bool ClientPresent() = 0;
};

// On Windows: whether the VisM control is registered. Elsewhere the link
// client is built into the program, so it is always present.
std::unique_ptr<ClientProbe> MakeSystemClientProbe();

}  // namespace dorvik
