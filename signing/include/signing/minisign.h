// Keys and signatures in minisign's formats, so that makers and admins can
// sign and check distributions with minisign itself as well as with dorpack.
//
// Public key file:  "untrusted comment: ..." line, then base64 of
//                   "Ed" | key id (8) | Ed25519 public key (32).
// Secret key file:  "untrusted comment: ..." line, then base64 of
//                   "Ed" | kdf ("Sc" scrypt, or two zero bytes: no password) |
//                   "B2" | salt (32) | opslimit (8, LE) | memlimit (8, LE) |
//                   [key id (8) | secret key (64) | BLAKE2b-256 check (32)],
//                   the bracket XORed with scrypt's output when protected.
// Signature file:   "untrusted comment: ..." line; base64 of "ED" (the
//                   signature is over the BLAKE2b-512 of the message) or
//                   "Ed" (legacy: over the message itself) | key id (8) |
//                   signature (64); "trusted comment: ..." line; base64 of the
//                   signature (64) over the first signature and the trusted
//                   comment, so the trusted comment cannot be changed unseen.
//
// All cryptography is libgcrypt's. Error texts are Russian in code page 1251.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dorvik::signing {

// A file that is not a key or signature of these formats, a wrong password.
class KeyFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using KeyId = std::array<std::uint8_t, 8>;

// The key id as minisign shows it: the little-endian number in upper-case
// hexadecimal digits, without leading zeros.
std::string KeyIdText(const KeyId& id);

struct PublicKey {
  KeyId id{};
  std::array<std::uint8_t, 32> key{};
};

// The secret half: the 32-byte seed followed by the public key, as minisign
// keeps it. Wiped when destroyed.
struct SecretKey {
  KeyId id{};
  std::array<std::uint8_t, 64> key{};

  SecretKey() = default;
  SecretKey(const SecretKey&) = default;
  SecretKey& operator=(const SecretKey&) = default;
  ~SecretKey();
  PublicKey Public() const;
};

struct KeyPair {
  PublicKey publicKey;
  SecretKey secretKey;
};

// A new Ed25519 key pair with a random key id.
KeyPair GenerateKeyPair();

// A public key file, or its base64 line alone (as minisign -P takes it).
PublicKey ParsePublicKey(std::string_view text);
std::string FormatPublicKey(const PublicKey& key);

// Whether a secret key file asks for a password.
bool SecretKeyNeedsPassword(std::string_view text);
// The password is ignored for a key stored without one. A wrong password
// and a damaged file both fail the key's check (KeyFormatError).
SecretKey ParseSecretKey(std::string_view text, const std::string& password);
// Without a password the key is stored unprotected (minisign -W).
std::string FormatSecretKey(const SecretKey& key, const std::optional<std::string>& password);

struct Signature {
  bool prehashed = true;  // "ED"; false for the legacy "Ed"
  KeyId keyId{};
  std::array<std::uint8_t, 64> signature{};
  std::string untrustedComment;
  std::string trustedComment;  // as signed, without the line's prefix
  std::array<std::uint8_t, 64> globalSignature{};
};

Signature ParseSignature(std::string_view text);
std::string FormatSignature(const Signature& signature);

// A prehashed signature of `message` with its trusted comment. Comments are
// single lines.
Signature SignMessage(const SecretKey& key, std::string_view message, const std::string& trustedComment,
                      const std::string& untrustedComment);

enum class VerifyResult {
  kVerified,
  kOtherKey,           // made by a key with another id
  kLegacy,             // not prehashed: refused
  kBadSignature,       // the message or the signature was changed
  kBadTrustedComment,  // the trusted comment was changed
};

VerifyResult VerifySignature(const PublicKey& key, const Signature& signature, std::string_view message);

}  // namespace dorvik::signing
