// The start-up test that the server client is present on this machine,
// made before any window exists.
#pragma once

#include <memory>
#include <string>

namespace dorvik {

// What the program says, and then ends, when the test fails (code page 1251).
std::string NoClientText();

class ClientProbe {
 public:
  virtual ~ClientProbe() = default;
  virtual bool ClientPresent() = 0;
};

// On Windows: whether the VisM control is registered. Elsewhere the link
// client is built into the program, so it is always present.
std::unique_ptr<ClientProbe> MakeSystemClientProbe();

}  // namespace dorvik
