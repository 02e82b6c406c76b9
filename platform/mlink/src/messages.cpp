#include "mlink/messages.h"

#include <type_traits>

#include "mlink/errors.h"
#include "wire.h"

namespace mlink {
namespace {

// Bits of a request's kept-parameters byte.
constexpr std::uint8_t kKeepP1 = 1;
constexpr std::uint8_t kKeepP2 = 2;

struct Encoder {
  wire::Writer& w;
  void operator()(const Hello& m) {
    w.U8(static_cast<std::uint8_t>(MessageType::Hello));
    w.Bytes(kMagic);
    w.U16(m.version);
    w.String(m.clientName);
  }
  void operator()(const Welcome& m) {
    w.U8(static_cast<std::uint8_t>(MessageType::Welcome));
    w.U16(m.version);
    w.String(m.serverAddress);
    w.String(m.serverVersion);
    w.String(m.process);
  }
  void operator()(const Request& m) {
    w.U8(static_cast<std::uint8_t>(MessageType::Request));
    w.String(m.nameSpace);
    w.U8(static_cast<std::uint8_t>((m.keepP1 ? kKeepP1 : 0) | (m.keepP2 ? kKeepP2 : 0)));
    w.String(m.keepP1 ? std::string_view() : std::string_view(m.p1));
    w.String(m.keepP2 ? std::string_view() : std::string_view(m.p2));
    w.String(m.code);
  }
  void operator()(const Answer& m) {
    w.U8(static_cast<std::uint8_t>(MessageType::Answer));
    w.I32(m.error);
    w.String(m.errorName);
    w.String(m.value);
    w.String(m.p1);
    w.String(m.p2);
    w.String(m.nameSpace);
  }
  void operator()(const Fault& m) {
    w.U8(static_cast<std::uint8_t>(MessageType::Fault));
    w.String(m.reason);
  }
};

}  // namespace

// Room for a body: its strings and a little for the fixed fields, so that
// encoding allocates once.
std::size_t SizeHint(const Message& message) {
  return std::visit(
      [](const auto& m) -> std::size_t {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Request>) {
          return 33 + m.nameSpace.size() + m.p1.size() + m.p2.size() + m.code.size();
        } else if constexpr (std::is_same_v<T, Answer>) {
          return 40 + m.errorName.size() + m.value.size() + m.p1.size() + m.p2.size() + m.nameSpace.size();
        } else {
          return 64;
        }
      },
      message);
}

std::string EncodeBody(const Message& message) {
  wire::Writer w(SizeHint(message));
  std::visit(Encoder{w}, message);
  return w.Take();
}

std::string EncodeFrame(const Message& message) {
  // The length goes in front of the body once the body is written.
  wire::Writer w(4 + SizeHint(message));
  w.U32(0);
  std::visit(Encoder{w}, message);
  std::string frame = w.Take();
  wire::StoreU32(static_cast<std::uint32_t>(frame.size() - 4),
                 reinterpret_cast<unsigned char*>(frame.data()));
  return frame;
}

Message DecodeBody(std::string_view body) {
  wire::Reader r(body);
  const std::uint8_t type = r.U8("type");
  Message out;
  switch (static_cast<MessageType>(type)) {
    case MessageType::Hello: {
      if (r.Bytes(kMagic.size(), "magic") != kMagic) {
        throw ProtocolError("malformed hello: bad magic (not a link protocol client)");
      }
      Hello m;
      m.version = r.U16("version");
      m.clientName = r.String("client name");
      out = std::move(m);
      break;
    }
    case MessageType::Welcome: {
      Welcome m;
      m.version = r.U16("version");
      m.serverAddress = r.String("server address");
      m.serverVersion = r.String("server version");
      m.process = r.String("process");
      out = std::move(m);
      break;
    }
    case MessageType::Request: {
      Request m;
      m.nameSpace = r.String("namespace");
      const std::uint8_t kept = r.U8("kept parameters");
      if (kept & ~(kKeepP1 | kKeepP2)) {
        throw ProtocolError("malformed request: unknown kept-parameter bits " + std::to_string(kept));
      }
      m.keepP1 = kept & kKeepP1;
      m.keepP2 = kept & kKeepP2;
      m.p1 = r.String("P1");
      m.p2 = r.String("P2");
      if ((m.keepP1 && !m.p1.empty()) || (m.keepP2 && !m.p2.empty())) {
        throw ProtocolError("malformed request: a kept parameter with a value");
      }
      m.code = r.String("code");
      out = std::move(m);
      break;
    }
    case MessageType::Answer: {
      Answer m;
      m.error = r.I32("error");
      m.errorName = r.String("error name");
      m.value = r.String("value");
      m.p1 = r.String("P1");
      m.p2 = r.String("P2");
      m.nameSpace = r.String("namespace");
      out = std::move(m);
      break;
    }
    case MessageType::Fault: {
      Fault m;
      m.reason = r.String("reason");
      out = std::move(m);
      break;
    }
    default:
      throw ProtocolError("malformed message: unknown type " + std::to_string(type));
  }
  r.ExpectEnd();
  return out;
}

}  // namespace mlink
