#include "checksum.h"

#include <array>

namespace mengine {

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

std::optional<std::int64_t> ZCrc(std::string_view bytes, std::int64_t mode, std::int64_t seed) {
  switch (mode) {
    case 0: {
      std::int64_t sum = seed;
      for (unsigned char b : bytes) sum += b;
      return sum;
    }
    case 1: {
      std::uint32_t x = static_cast<std::uint32_t>(seed) & 0xFF;
      for (unsigned char b : bytes) x ^= b;
      return x;
    }
    case 7: {
      std::uint32_t c = static_cast<std::uint32_t>(seed) ^ 0xFFFFFFFFu;
      for (unsigned char b : bytes) c = kCrcTable[(c ^ b) & 0xFF] ^ (c >> 8);
      return static_cast<std::int64_t>(c ^ 0xFFFFFFFFu);
    }
    default:
      return std::nullopt;
  }
}

}  // namespace mengine
