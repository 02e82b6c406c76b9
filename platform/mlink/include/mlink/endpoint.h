// A TCP endpoint written as "host:port".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mlink {

struct Endpoint {
  std::string host;
  std::uint16_t port = 0;

  std::string ToString() const;  // "host:port"; IPv6 hosts in brackets
};

// Parses "host:port", "[v6]:port" or ":port" (host defaults to 127.0.0.1).
// Throws std::invalid_argument with a readable text on a bad value.
Endpoint ParseEndpoint(std::string_view text);

}  // namespace mlink
