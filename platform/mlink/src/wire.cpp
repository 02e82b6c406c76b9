#include "wire.h"

#include "mlink/errors.h"

namespace mlink::wire {

void Writer::U16(std::uint16_t v) {
  U8(static_cast<std::uint8_t>(v >> 8));
  U8(static_cast<std::uint8_t>(v));
}

void Writer::U32(std::uint32_t v) {
  unsigned char b[4];
  StoreU32(v, b);
  out_.append(reinterpret_cast<const char*>(b), 4);
}

void Writer::String(std::string_view s) {
  U32(static_cast<std::uint32_t>(s.size()));
  out_.append(s);
}

std::string_view Reader::Bytes(std::size_t n, const char* field) {
  if (in_.size() - pos_ < n) {
    throw ProtocolError(std::string("truncated message: field '") + field + "' needs " + std::to_string(n) +
                        " bytes, " + std::to_string(in_.size() - pos_) + " left");
  }
  std::string_view out = in_.substr(pos_, n);
  pos_ += n;
  return out;
}

std::uint8_t Reader::U8(const char* field) { return static_cast<std::uint8_t>(Bytes(1, field)[0]); }

std::uint16_t Reader::U16(const char* field) {
  auto b = Bytes(2, field);
  return static_cast<std::uint16_t>((static_cast<unsigned char>(b[0]) << 8) | static_cast<unsigned char>(b[1]));
}

std::uint32_t Reader::U32(const char* field) {
  auto b = Bytes(4, field);
  return LoadU32(reinterpret_cast<const unsigned char*>(b.data()));
}

std::string Reader::String(const char* field) {
  std::uint32_t n = U32(field);
  return std::string(Bytes(n, field));
}

void Reader::ExpectEnd() {
  if (pos_ != in_.size()) {
    throw ProtocolError("malformed message: " + std::to_string(in_.size() - pos_) +
                        " unexpected bytes after the last field");
  }
}

std::uint32_t LoadU32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

void StoreU32(std::uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

}  // namespace mlink::wire
