#include "crypto.h"

#include <gcrypt.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "distribution/libgcrypt_init.h"

namespace dorvik::signing::crypto {

namespace {

struct SexpFree {
  void operator()(gcry_sexp* s) const { gcry_sexp_release(s); }
};
using Sexp = std::unique_ptr<gcry_sexp, SexpFree>;

[[noreturn]] void Fail(const char* what, gcry_error_t error) {
  throw std::runtime_error(std::string("libgcrypt: ") + what + ": " + gcry_strerror(error));
}

// The bytes of the token `name` inside `sexp`, right-aligned into `out`
// (libgcrypt may drop leading zero bytes of a number).
template <std::size_t N>
void TakeToken(gcry_sexp_t sexp, const char* name, std::array<std::uint8_t, N>& out) {
  const Sexp token(gcry_sexp_find_token(sexp, name, 0));
  if (!token) throw std::runtime_error(std::string("libgcrypt: no ") + name + " in the answer");
  std::size_t size = 0;
  const char* data = gcry_sexp_nth_data(token.get(), 1, &size);
  // A public point may carry the 0x40 prefix of its compressed form.
  if (data != nullptr && size == N + 1 && static_cast<unsigned char>(data[0]) == 0x40) {
    ++data;
    --size;
  }
  if (data == nullptr || size > N) throw std::runtime_error(std::string("libgcrypt: bad ") + name + " in the answer");
  out.fill(0);
  std::memcpy(out.data() + (N - size), data, size);
}

Sexp PublicKeySexp(const Point& publicKey) {
  gcry_sexp_t s = nullptr;
  const gcry_error_t e = gcry_sexp_build(&s, nullptr, "(public-key(ecc(curve Ed25519)(flags eddsa)(q %b)))",
                                         static_cast<int>(publicKey.size()), publicKey.data());
  if (e != 0) Fail("public key", e);
  return Sexp(s);
}

Sexp DataSexp(std::string_view message) {
  gcry_sexp_t s = nullptr;
  const gcry_error_t e = gcry_sexp_build(&s, nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                                         static_cast<int>(message.size()), message.data());
  if (e != 0) Fail("message", e);
  return Sexp(s);
}

// One key pair from libgcrypt, usable or not.
void GenerateOnce(Seed& seed, Point& publicKey);

template <std::size_t N>
std::array<std::uint8_t, N> Hash(int algorithm, std::string_view bytes) {
  InitialiseLibgcrypt();
  std::array<std::uint8_t, N> out{};
  gcry_md_hash_buffer(algorithm, out.data(), bytes.data(), bytes.size());
  return out;
}

}  // namespace

void RandomBytes(std::uint8_t* out, std::size_t size) {
  InitialiseLibgcrypt();
  gcry_randomize(out, size, GCRY_STRONG_RANDOM);
}

bool UsablePublicKey(const Point& publicKey) {
  return publicKey[28] != 0 || publicKey[29] != 0 || publicKey[30] != 0 || (publicKey[31] & 0x7f) != 0;
}

void GenerateEd25519(Seed& seed, Point& publicKey) {
  InitialiseLibgcrypt();
  do {
    GenerateOnce(seed, publicKey);
  } while (!UsablePublicKey(publicKey));
}

namespace {

void GenerateOnce(Seed& seed, Point& publicKey) {
  gcry_sexp_t params = nullptr;
  if (const gcry_error_t e = gcry_sexp_build(&params, nullptr, "(genkey(ecc(curve Ed25519)(flags eddsa)))"); e != 0) {
    Fail("key parameters", e);
  }
  const Sexp request(params);
  gcry_sexp_t pair = nullptr;
  if (const gcry_error_t e = gcry_pk_genkey(&pair, request.get()); e != 0) Fail("key generation", e);
  const Sexp keys(pair);
  const Sexp secret(gcry_sexp_find_token(keys.get(), "private-key", 0));
  if (!secret) throw std::runtime_error("libgcrypt: no private key generated");
  TakeToken(secret.get(), "d", seed);
  TakeToken(secret.get(), "q", publicKey);
}

}  // namespace

EdSignature SignEd25519(const Seed& seed, const Point& publicKey, std::string_view message) {
  InitialiseLibgcrypt();
  gcry_sexp_t s = nullptr;
  if (const gcry_error_t e = gcry_sexp_build(&s, nullptr, "(private-key(ecc(curve Ed25519)(flags eddsa)(q %b)(d %b)))",
                                             static_cast<int>(publicKey.size()), publicKey.data(),
                                             static_cast<int>(seed.size()), seed.data());
      e != 0) {
    Fail("secret key", e);
  }
  const Sexp secret(s);
  const Sexp data = DataSexp(message);
  gcry_sexp_t signed_ = nullptr;
  if (const gcry_error_t e = gcry_pk_sign(&signed_, data.get(), secret.get()); e != 0) Fail("signing", e);
  const Sexp answer(signed_);
  std::array<std::uint8_t, 32> r{}, sPart{};
  TakeToken(answer.get(), "r", r);
  TakeToken(answer.get(), "s", sPart);
  EdSignature out{};
  std::memcpy(out.data(), r.data(), 32);
  std::memcpy(out.data() + 32, sPart.data(), 32);
  return out;
}

bool VerifyEd25519(const Point& publicKey, std::string_view message, const EdSignature& signature) {
  if (!UsablePublicKey(publicKey)) return false;
  InitialiseLibgcrypt();
  const Sexp key = PublicKeySexp(publicKey);
  const Sexp data = DataSexp(message);
  gcry_sexp_t s = nullptr;
  if (const gcry_error_t e =
          gcry_sexp_build(&s, nullptr, "(sig-val(eddsa(r %b)(s %b)))", 32, signature.data(), 32, signature.data() + 32);
      e != 0) {
    Fail("signature", e);
  }
  const Sexp sig(s);
  return gcry_pk_verify(sig.get(), data.get(), key.get()) == 0;
}

std::array<std::uint8_t, 64> Blake2b512(std::string_view bytes) { return Hash<64>(GCRY_MD_BLAKE2B_512, bytes); }

std::array<std::uint8_t, 32> Blake2b256(std::string_view bytes) { return Hash<32>(GCRY_MD_BLAKE2B_256, bytes); }

void Scrypt(const std::string& password, const std::uint8_t* salt, std::size_t saltSize, unsigned logN, unsigned p,
            std::uint8_t* out, std::size_t outSize) {
  InitialiseLibgcrypt();
  const gcry_error_t e =
      gcry_kdf_derive(password.data(), password.size(), GCRY_KDF_SCRYPT, 1 << logN, salt, saltSize, p, outSize, out);
  if (e != 0) Fail("scrypt", e);
}

void Wipe(void* data, std::size_t size) {
  volatile auto* p = static_cast<volatile unsigned char*>(data);
  while (size-- > 0) *p++ = 0;
}

}  // namespace dorvik::signing::crypto
