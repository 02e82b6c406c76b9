// Big-endian integer and length-prefixed string fields of a frame body.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mlink::wire {

class Writer {
 public:
  Writer() = default;
  explicit Writer(std::size_t capacity) { out_.reserve(capacity); }
  void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U16(std::uint16_t v);
  void U32(std::uint32_t v);
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void Bytes(std::string_view raw) { out_.append(raw); }
  void String(std::string_view s);  // u32 length + bytes
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

// Reads fields in order; every read past the end throws ProtocolError
// naming the field.
class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  std::uint8_t U8(const char* field);
  std::uint16_t U16(const char* field);
  std::uint32_t U32(const char* field);
  std::int32_t I32(const char* field) { return static_cast<std::int32_t>(U32(field)); }
  std::string_view Bytes(std::size_t n, const char* field);
  std::string String(const char* field);
  void ExpectEnd();

 private:
  std::string_view in_;
  std::size_t pos_ = 0;
};

std::uint32_t LoadU32(const unsigned char* p);
void StoreU32(std::uint32_t v, unsigned char* p);

}  // namespace mlink::wire
