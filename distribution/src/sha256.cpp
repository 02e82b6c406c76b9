#include "distribution/sha256.h"

#include <gcrypt.h>

#include <cstring>
#include <stdexcept>
#include <utility>

#include "distribution/libgcrypt_init.h"

namespace dorvik {

void InitialiseLibgcrypt() {
  static const bool done = [] {
    if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
      if (gcry_check_version(GCRYPT_VERSION) == nullptr)
        throw std::runtime_error("libgcrypt is older than its headers");
      gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
    return true;
  }();
  (void)done;
}

namespace {

gcry_md_hd_t Open() {
  InitialiseLibgcrypt();
  gcry_md_hd_t h = nullptr;
  if (gcry_md_open(&h, GCRY_MD_SHA256, 0) != 0) throw std::runtime_error("libgcrypt: SHA-256 is not available");
  return h;
}

gcry_md_hd_t Copy(void* handle) {
  if (handle == nullptr) return nullptr;
  gcry_md_hd_t h = nullptr;
  if (gcry_md_copy(&h, static_cast<gcry_md_hd_t>(handle)) != 0)
    throw std::runtime_error("libgcrypt: cannot copy a hash");
  return h;
}

}  // namespace

Sha256::Sha256() : handle_(Open()) {}

Sha256::~Sha256() { gcry_md_close(static_cast<gcry_md_hd_t>(handle_)); }

Sha256::Sha256(const Sha256& other) : handle_(Copy(other.handle_)) {}

Sha256& Sha256::operator=(const Sha256& other) {
  if (this != &other) {
    Sha256 copy(other);
    std::swap(handle_, copy.handle_);
  }
  return *this;
}

Sha256::Sha256(Sha256&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Sha256& Sha256::operator=(Sha256&& other) noexcept {
  std::swap(handle_, other.handle_);
  return *this;
}

void Sha256::Update(std::string_view bytes) {
  if (handle_ == nullptr) handle_ = Open();  // a moved-from object starts afresh
  gcry_md_write(static_cast<gcry_md_hd_t>(handle_), bytes.data(), bytes.size());
}

Sha256::Digest Sha256::Final() {
  if (handle_ == nullptr) handle_ = Open();
  Digest out{};
  std::memcpy(out.data(), gcry_md_read(static_cast<gcry_md_hd_t>(handle_), GCRY_MD_SHA256), out.size());
  return out;
}

std::string Sha256::ToHex(const Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(64);
  for (const auto b : digest) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string Sha256::Hex(std::string_view bytes) {
  Sha256 h;
  h.Update(bytes);
  return ToHex(h.Final());
}

}  // namespace dorvik
