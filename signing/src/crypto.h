// The library's few uses of libgcrypt, each a plain function: Ed25519 keys,
// signing and checking, BLAKE2b, scrypt and random bytes. Failures of the
// library itself (never of the input) throw std::runtime_error.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dorvik::signing::crypto {

using Seed = std::array<std::uint8_t, 32>;
using Point = std::array<std::uint8_t, 32>;
using EdSignature = std::array<std::uint8_t, 64>;

void RandomBytes(std::uint8_t* out, std::size_t size);

// False for a public key libgcrypt cannot be given: its y coordinate (the
// encoding without the sign bit) below 2^224. libgcrypt 1.10 aborts the
// process on such a point (a number shorter than the field's), and no key
// made honestly is one (the chance is 2^-31); the low-order points y = 0
// and y = 1 are among them.
bool UsablePublicKey(const Point& publicKey);

// A new key: its secret seed and public point (always a usable one).
void GenerateEd25519(Seed& seed, Point& publicKey);
EdSignature SignEd25519(const Seed& seed, const Point& publicKey, std::string_view message);
bool VerifyEd25519(const Point& publicKey, std::string_view message, const EdSignature& signature);

std::array<std::uint8_t, 64> Blake2b512(std::string_view bytes);
std::array<std::uint8_t, 32> Blake2b256(std::string_view bytes);

// scrypt with r = 8 (libgcrypt's and libsodium's), n = 2^logN.
void Scrypt(const std::string& password, const std::uint8_t* salt, std::size_t saltSize, unsigned logN, unsigned p,
            std::uint8_t* out, std::size_t outSize);

// Overwrites memory that held a secret, in a way the compiler keeps.
void Wipe(void* data, std::size_t size);

}  // namespace dorvik::signing::crypto
