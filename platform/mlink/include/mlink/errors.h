// Failures of the link: transport failures, time-outs and protocol violations.
#pragma once

#include <stdexcept>
#include <string>

namespace mlink {

// The connection could not be made or was lost (refused, reset, timeout,
// closed by the peer). The text says which, and to what address.
class LinkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A deadline passed: the peer sent nothing, or took nothing, in time. The
// connection may be sound; only the wait ended.
class TimeoutError : public LinkError {
 public:
  using LinkError::LinkError;
};

// The peer sent bytes that are not a valid frame or message.
class ProtocolError : public LinkError {
 public:
  using LinkError::LinkError;
};

}  // namespace mlink
