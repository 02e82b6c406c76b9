#include "mlink/endpoint.h"

#include <charconv>
#include <stdexcept>

namespace mlink {

std::string Endpoint::ToString() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

Endpoint ParseEndpoint(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.append(1, '\'').append(text).append(1, '\'');
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    throw std::invalid_argument("address " + quoted + " has no port (expected HOST:PORT)");
  }
  std::string_view host = text.substr(0, colon);
  std::string_view port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    throw std::invalid_argument("address " + quoted + ": write an IPv6 host in brackets");
  }
  unsigned value = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value > 65535) {
    throw std::invalid_argument("address " + quoted + " has a bad port (expected 0-65535)");
  }
  Endpoint out;
  out.host = host.empty() ? "127.0.0.1" : std::string(host);
  out.port = static_cast<std::uint16_t>(value);
  return out;
}

}  // namespace mlink
