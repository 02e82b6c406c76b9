// The texts TcpLink reports for its own failures, in one place: what a
// person reads after "Код ошибки: " and in the install log.
#pragma once

#include <string>

namespace mlink {
class LinkError;
}

namespace dorvik {

// The error name of every failure of the link itself, as the server's errors
// are named ("<UNDEFINED>"): callers look for it at the start of the text.
inline constexpr const char* kLinkErrorName = "<LINK>";

// "<LINK> " and a Russian sentence in code page 1251 saying what failed,
// composed from the failure's kind and numbers (the system's own texts are
// English or in the machine's locale, so none is shown). The address and the
// server's own reason are kept as received, control bytes made spaces.
std::string LinkFailureText(const mlink::LinkError& failure);

}  // namespace dorvik
