// SHA-256 (FIPS 180-4) of a byte stream, for the data file's integrity
// marker. Portable C++ with no platform library, so that every build of the
// installer (also the 32-bit Windows one) computes the same digest.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dorvik {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  // Adds bytes; may be called any number of times.
  void Update(std::string_view bytes);
  // The digest of everything added; the object must not be updated after.
  Digest Final();

  // The digest of `bytes` as 64 lower-case hexadecimal digits.
  static std::string Hex(std::string_view bytes);
  static std::string ToHex(const Digest& digest);

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes added so far
};

}  // namespace dorvik
