#include "mlink/messages.h"

#include <type_traits>

#include "mlink/errors.h"
#include "wire.h"

namespace mlink {
namespace {

// P1 and P2 after a byte whose bits say which of them are left out: kept by
// a request, unchanged by an answer.
constexpr std::uint8_t kOmitP1 = 1;
constexpr std::uint8_t kOmitP2 = 2;

void WriteParameters(wire::Writer& w, const std::string& p1, bool omitP1, const std::string& p2, bool omitP2) {
  w.U8(static_cast<std::uint8_t>((omitP1 ? kOmitP1 : 0) | (omitP2 ? kOmitP2 : 0)));
  w.String(omitP1 ? std::string_view() : std::string_view(p1));
  w.String(omitP2 ? std::string_view() : std::string_view(p2));
}

void ReadParameters(wire::Reader& r, const char* what, std::string& p1, bool& omitP1, std::string& p2, bool& omitP2) {
  const std::uint8_t omitted = r.U8(what);
  if (omitted & ~(kOmitP1 | kOmitP2)) {
    throw ProtocolError(std::string("malformed message: unknown bits in the ") + what +
                        " byte: " + std::to_string(omitted));
  }
  omitP1 = omitted & kOmitP1;
  omitP2 = omitted & kOmitP2;
  p1 = r.String("P1");
  p2 = r.String("P2");
  if ((omitP1 && !p1.empty()) || (omitP2 && !p2.empty())) {
    throw ProtocolError(std::string("malformed message: a parameter left out (") + what + ") has a value");
  }
}

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
    WriteParameters(w, m.p1, m.keepP1, m.p2, m.keepP2);
    w.String(m.code);
  }
  void operator()(const Answer& m) {
    w.U8(static_cast<std::uint8_t>(MessageType::Answer));
    w.I32(m.error);
    w.String(m.errorName);
    w.String(m.value);
    WriteParameters(w, m.p1, m.p1Unchanged, m.p2, m.p2Unchanged);
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
          return 41 + m.errorName.size() + m.value.size() + m.p1.size() + m.p2.size() + m.nameSpace.size();
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
  wire::StoreU32(static_cast<std::uint32_t>(frame.size() - 4), reinterpret_cast<unsigned char*>(frame.data()));
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
      ReadParameters(r, "kept parameters", m.p1, m.keepP1, m.p2, m.keepP2);
      m.code = r.String("code");
      out = std::move(m);
      break;
    }
    case MessageType::Answer: {
      Answer m;
      m.error = r.I32("error");
      m.errorName = r.String("error name");
      m.value = r.String("value");
      ReadParameters(r, "unchanged parameters", m.p1, m.p1Unchanged, m.p2, m.p2Unchanged);
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
