// Failures of the link: transport failures, time-outs and protocol violations.
//
// what() is an English text for the server's log and the developer's tools.
// A program that shows the failure to a person composes its own text from
// kind() and details(), which say what happened and with which numbers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace mlink {

// What went wrong, in the words a client can act upon.
enum class FailureKind {
  Other,              // a failure of the library's use, not of the peer
  BadAddress,         // the address is not HOST:PORT (details: address)
  CannotResolve,      // the host name has no address (details: address = host, systemCode)
  Refused,            // nothing listens at the address
  ConnectTimedOut,    // the connection did not come up in time (details: limit in ms, 0 unknown)
  ConnectFailed,      // connecting failed otherwise (details: systemCode)
  NoAnswer,           // the peer sent nothing in time (details: limit in ms, 0 unknown)
  NotTaken,           // the peer took nothing in time (details: limit in ms, 0 unknown)
  Reset,              // the connection was reset or aborted
  Closed,             // the peer closed the connection between frames
  ClosedMidFrame,     // the peer closed the connection in the middle of a frame
  ServerFault,        // the server said why it closes (details: reason, its own words)
  TransferFailed,     // sending, receiving or waiting failed otherwise (details: systemCode)
  Malformed,          // the bytes are not a valid frame or message
  FrameTooLarge,      // a frame announced above the limit (details: size, limit in bytes)
  RequestTooLarge,    // a request above the frame limit, not sent (details: size, limit in bytes)
  VersionMismatch,    // the server speaks another protocol version (details: size = its version)
  NoHandshake,        // the server answered the hello with another message
  UnexpectedMessage,  // the server answered a request with another message
  NotConnected,       // a call without a connection
};

struct FailureDetails {
  std::string address;  // "host:port" of the peer, or the address or host at fault
  int systemCode = 0;   // errno, a WSA code or a getaddrinfo code; 0 none
  std::uint64_t size = 0;
  std::uint64_t limit = 0;
  std::string reason;  // the server's own words, as received
};

// The connection could not be made or was lost (refused, reset, timeout,
// closed by the peer). The text says which, and to what address.
class LinkError : public std::runtime_error {
 public:
  explicit LinkError(const std::string& text, FailureKind kind = FailureKind::Other, FailureDetails details = {})
      : std::runtime_error(text), kind_(kind), details_(std::move(details)) {}

  FailureKind kind() const { return kind_; }
  const FailureDetails& details() const { return details_; }

 private:
  FailureKind kind_;
  FailureDetails details_;
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
  explicit ProtocolError(const std::string& text, FailureKind kind = FailureKind::Malformed,
                         FailureDetails details = {})
      : LinkError(text, kind, std::move(details)) {}
};

}  // namespace mlink
