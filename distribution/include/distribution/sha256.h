// SHA-256 (FIPS 180-4) of a byte stream, for the data file's integrity
// marker and the signed list of a distribution's files. Computed by
// libgcrypt in every build of the installer (also the 32-bit Windows one),
// so that all of them give the same digest.
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
  ~Sha256();
  // A copy continues from the same state on its own.
  Sha256(const Sha256& other);
  Sha256& operator=(const Sha256& other);
  Sha256(Sha256&& other) noexcept;
  Sha256& operator=(Sha256&& other) noexcept;

  // Adds bytes; may be called any number of times.
  void Update(std::string_view bytes);
  // The digest of everything added; the object must not be updated after.
  Digest Final();

  // The digest of `bytes` as 64 lower-case hexadecimal digits.
  static std::string Hex(std::string_view bytes);
  static std::string ToHex(const Digest& digest);

 private:
  void* handle_ = nullptr;  // libgcrypt's hash context (gcry_md_hd_t)
};

}  // namespace dorvik
