// Messages of the link protocol and their encoding into frame bodies.
// Every text field is a byte string that travels unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace mlink {

// Version 2 added the kept parameters of a Request, which let a client send
// requests before the answers to earlier ones have arrived, and the
// unchanged parameters of an Answer.
inline constexpr std::uint16_t kProtocolVersion = 2;
inline constexpr std::string_view kMagic = "VMLK";
// Default upper bound for one frame body in either direction.
inline constexpr std::uint32_t kDefaultMaxFrame = 16u * 1024u * 1024u;

enum class MessageType : std::uint8_t {
  Hello = 1,    // client -> server, first frame of a connection
  Welcome = 2,  // server -> client, answer to Hello
  Request = 3,  // client -> server
  Answer = 4,   // server -> client, answer to Request
  Fault = 5,    // server -> client, sent just before the server closes
};

struct Hello {
  std::uint16_t version = kProtocolVersion;
  std::string clientName;
};

struct Welcome {
  std::uint16_t version = kProtocolVersion;
  std::string serverAddress;  // "host:port" the client should consider in use; "" none announced
  std::string serverVersion;  // the server's $ZVERSION
  std::string process;        // $JOB of the process serving this connection
};

struct Request {
  std::string nameSpace;  // empty: stay in the current namespace
  std::string p1;
  std::string p2;
  std::string code;  // "$..." is an expression, anything else a command line
  // A kept parameter is not sent: the process keeps the value it has ("" when
  // it has none), which is what the answer to the request before reported.
  bool keepP1 = false;
  bool keepP2 = false;
};

struct Answer {
  std::int32_t error = 0;  // 0: the code ran without error
  std::string errorName;   // the $ZE-style error text when error != 0
  std::string value;       // value of an expression, "" for a command line
  std::string p1;          // P1 and P2 after the call
  std::string p2;
  std::string nameSpace;  // the namespace the process is in after the call
  // On the wire only: a parameter the call left as the request set it (or
  // kept it) is not sent back. mlink::Client fills it in before a caller
  // sees the answer.
  bool p1Unchanged = false;
  bool p2Unchanged = false;
};

struct Fault {
  std::string reason;
};

using Message = std::variant<Hello, Welcome, Request, Answer, Fault>;

// Encodes one message as a frame body (type byte + fields).
std::string EncodeBody(const Message& message);

// Decodes one frame body. Throws ProtocolError on a malformed body
// (unknown type, truncated field, trailing bytes, bad magic).
Message DecodeBody(std::string_view body);

// Prefixes a body with its 4-byte big-endian length.
std::string EncodeFrame(const Message& message);

}  // namespace mlink
