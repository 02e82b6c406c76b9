#include "signing/minisign.h"

#include <cstring>
#include <vector>

#include "base64.h"
#include "crypto.h"
#include "distribution/codepage.h"

namespace dorvik::signing {

namespace {

constexpr std::string_view kCommentPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::size_t kPublicKeySize = 2 + 8 + 32;
constexpr std::size_t kSecretKeySize = 2 + 2 + 2 + 32 + 8 + 8 + 8 + 64 + 32;
constexpr std::size_t kSignatureSize = 2 + 8 + 64;
// Offsets inside a secret key.
constexpr std::size_t kKdfAt = 2, kChecksumAlgAt = 4, kSaltAt = 6, kOpsAt = 38, kMemAt = 46, kKeyNumAt = 54;
constexpr std::size_t kKeyNumSize = 8 + 64 + 32;
// minisign's scrypt parameters for a protected key (libsodium's "sensitive").
constexpr std::uint64_t kOpsLimit = 33554432;
constexpr std::uint64_t kMemLimit = 1073741824;

[[noreturn]] void Refuse(std::string_view utf8) { throw KeyFormatError(Ru(utf8)); }

// The lines of a small text file, without line ends.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::uint64_t LoadLe64(const std::string& bytes, std::size_t at) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) v |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
  return v;
}

void StoreLe64(std::string& bytes, std::size_t at, std::uint64_t v) {
  for (std::size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

template <std::size_t N>
void CopyOut(const std::string& bytes, std::size_t at, std::array<std::uint8_t, N>& out) {
  std::memcpy(out.data(), bytes.data() + at, N);
}

template <std::size_t N>
std::string_view View(const std::array<std::uint8_t, N>& a) {
  return {reinterpret_cast<const char*>(a.data()), N};
}

// libsodium's choice of scrypt's n and p from the limits a key file stores
// (r is 8), so that keys protected by minisign open here and back.
void ScryptParameters(std::uint64_t ops, std::uint64_t mem, unsigned& logN, unsigned& p) {
  if (ops < 32768) ops = 32768;
  const std::uint64_t r = 8;
  std::uint64_t maxN = 0;
  if (ops < mem / 32) {
    p = 1;
    maxN = ops / (r * 4);
  } else {
    maxN = mem / (r * 128);
  }
  for (logN = 1; logN < 63; ++logN) {
    if ((std::uint64_t{1} << logN) > maxN / 2) break;
  }
  if (!(ops < mem / 32)) {
    std::uint64_t maxrp = (ops / 4) / (std::uint64_t{1} << logN);
    if (maxrp > 0x3fffffff) maxrp = 0x3fffffff;
    p = static_cast<unsigned>(maxrp / r);
  }
}

// XORs the key number block with scrypt's output for `password`.
void Crypt(std::string& bytes, const std::string& password) {
  unsigned logN = 0, p = 0;
  ScryptParameters(LoadLe64(bytes, kOpsAt), LoadLe64(bytes, kMemAt), logN, p);
  // A key file names its own cost: one that asks for more than minisign's
  // own gigabyte, or for more passes than it ever writes, is not opened.
  if (logN > 20 || p == 0 || p > 16) Refuse("параметры защиты секретного ключа вне допустимых пределов");
  std::array<std::uint8_t, kKeyNumSize> stream{};
  crypto::Scrypt(password, reinterpret_cast<const std::uint8_t*>(bytes.data() + kSaltAt), 32, logN, p, stream.data(),
                 stream.size());
  for (std::size_t i = 0; i < kKeyNumSize; ++i)
    bytes[kKeyNumAt + i] = static_cast<char>(bytes[kKeyNumAt + i] ^ stream[i]);
  crypto::Wipe(stream.data(), stream.size());
}

// BLAKE2b-256 of the algorithm, key id and secret key.
std::array<std::uint8_t, 32> SecretChecksum(const std::string& bytes) {
  std::string covered = bytes.substr(0, 2) + bytes.substr(kKeyNumAt, 8 + 64);
  const auto sum = crypto::Blake2b256(covered);
  crypto::Wipe(covered.data(), covered.size());
  return sum;
}

// The one base64 line of a key file after its comment (or alone).
std::string DecodeKeyLine(std::string_view text, std::size_t size, std::string_view what) {
  const auto lines = Lines(text);
  std::string_view line;
  if (lines.size() == 1) {
    line = lines[0];
  } else if (lines.size() >= 2 && lines[0].substr(0, kCommentPrefix.size()) == kCommentPrefix) {
    line = lines[1];
  } else {
    throw KeyFormatError(Ru(what) + Ru(": нет строки «untrusted comment:» и строки ключа"));
  }
  const auto bytes = DecodeBase64(line);
  if (!bytes || bytes->size() != size) throw KeyFormatError(Ru(what) + Ru(": строка ключа не в формате minisign"));
  if (bytes->compare(0, 2, "Ed") != 0) throw KeyFormatError(Ru(what) + Ru(": ключ не Ed25519"));
  return *bytes;
}

}  // namespace

std::string KeyIdText(const KeyId& id) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = id.size(); i-- > 0;) {
    out += kDigits[id[i] >> 4];
    out += kDigits[id[i] & 15];
  }
  // minisign prints the id as a number, without leading zeros.
  const auto first = out.find_first_not_of('0');
  return first == std::string::npos ? "0" : out.substr(first);
}

SecretKey::~SecretKey() { crypto::Wipe(key.data(), key.size()); }

PublicKey SecretKey::Public() const {
  PublicKey p;
  p.id = id;
  std::memcpy(p.key.data(), key.data() + 32, 32);
  return p;
}

KeyPair GenerateKeyPair() {
  KeyPair pair;
  crypto::Seed seed{};
  crypto::Point point{};
  crypto::GenerateEd25519(seed, point);
  crypto::RandomBytes(pair.secretKey.id.data(), pair.secretKey.id.size());
  std::memcpy(pair.secretKey.key.data(), seed.data(), 32);
  std::memcpy(pair.secretKey.key.data() + 32, point.data(), 32);
  crypto::Wipe(seed.data(), seed.size());
  pair.publicKey = pair.secretKey.Public();
  return pair;
}

PublicKey ParsePublicKey(std::string_view text) {
  const std::string bytes = DecodeKeyLine(text, kPublicKeySize, "открытый ключ");
  PublicKey key;
  CopyOut(bytes, 2, key.id);
  CopyOut(bytes, 10, key.key);
  if (!crypto::UsablePublicKey(key.key)) Refuse("открытый ключ: это не пригодный ключ Ed25519");
  return key;
}

std::string FormatPublicKey(const PublicKey& key) {
  const std::string bytes = std::string("Ed") + std::string(View(key.id)) + std::string(View(key.key));
  return std::string(kCommentPrefix) + "minisign public key " + KeyIdText(key.id) + "\n" + EncodeBase64(bytes) + "\n";
}

bool SecretKeyNeedsPassword(std::string_view text) {
  const std::string bytes = DecodeKeyLine(text, kSecretKeySize, "секретный ключ");
  return bytes.compare(kKdfAt, 2, "Sc") == 0;
}

SecretKey ParseSecretKey(std::string_view text, const std::string& password) {
  std::string bytes = DecodeKeyLine(text, kSecretKeySize, "секретный ключ");
  if (bytes.compare(kChecksumAlgAt, 2, "B2") != 0) Refuse("секретный ключ: неизвестный вид контрольной суммы");
  const bool protectedKey = bytes.compare(kKdfAt, 2, "Sc") == 0;
  if (protectedKey) {
    Crypt(bytes, password);
  } else if (bytes.compare(kKdfAt, 2, std::string(2, '\0')) != 0) {
    Refuse("секретный ключ: неизвестный способ защиты паролем");
  }
  std::array<std::uint8_t, 32> stored{};
  CopyOut(bytes, kKeyNumAt + 8 + 64, stored);
  // minisign -W leaves the check of an unprotected key empty.
  const bool unchecked = !protectedKey && stored == std::array<std::uint8_t, 32>{};
  const bool intact = unchecked || SecretChecksum(bytes) == stored;
  SecretKey key;
  CopyOut(bytes, kKeyNumAt, key.id);
  CopyOut(bytes, kKeyNumAt + 8, key.key);
  crypto::Wipe(bytes.data(), bytes.size());
  if (!intact) Refuse("секретный ключ не открывается: неверный пароль или файл ключа повреждён");
  // The seed must give the public half stored beside it, else every
  // signature made with it would fail to verify.
  const Signature probe = SignMessage(key, "probe", "", "");
  if (VerifySignature(key.Public(), probe, "probe") != VerifyResult::kVerified) {
    Refuse("секретный ключ повреждён: его открытая часть не подходит к секретной");
  }
  return key;
}

std::string FormatSecretKey(const SecretKey& key, const std::optional<std::string>& password) {
  std::string bytes(kSecretKeySize, '\0');
  bytes.replace(0, 2, "Ed");
  bytes.replace(kChecksumAlgAt, 2, "B2");
  bytes.replace(kKeyNumAt, 8, View(key.id));
  bytes.replace(kKeyNumAt + 8, 64, View(key.key));
  const auto checksum = SecretChecksum(bytes);
  bytes.replace(kKeyNumAt + 8 + 64, 32, View(checksum));
  if (password) {
    bytes.replace(kKdfAt, 2, "Sc");
    std::array<std::uint8_t, 32> salt{};
    crypto::RandomBytes(salt.data(), salt.size());
    bytes.replace(kSaltAt, 32, View(salt));
    StoreLe64(bytes, kOpsAt, kOpsLimit);
    StoreLe64(bytes, kMemAt, kMemLimit);
    Crypt(bytes, *password);
  }
  std::string out = std::string(kCommentPrefix) + "minisign encrypted secret key\n" + EncodeBase64(bytes) + "\n";
  crypto::Wipe(bytes.data(), bytes.size());
  return out;
}

Signature ParseSignature(std::string_view text) {
  const auto lines = Lines(text);
  if (lines.size() < 4) Refuse("файл подписи неполон: в нём меньше четырёх строк");
  if (lines[0].substr(0, kCommentPrefix.size()) != kCommentPrefix) {
    Refuse("файл подписи: первая строка не «untrusted comment:»");
  }
  if (lines[2].substr(0, kTrustedPrefix.size()) != kTrustedPrefix) {
    Refuse("файл подписи: третья строка не «trusted comment:»");
  }
  const auto bytes = DecodeBase64(lines[1]);
  if (!bytes || bytes->size() != kSignatureSize) Refuse("файл подписи: строка подписи не в формате minisign");
  const auto global = DecodeBase64(lines[3]);
  if (!global || global->size() != 64) Refuse("файл подписи: подпись доверенного комментария неполна или испорчена");
  for (std::size_t i = 4; i < lines.size(); ++i) {
    if (!lines[i].empty()) Refuse("файл подписи: лишние строки после подписи");
  }
  Signature s;
  if (bytes->compare(0, 2, "ED") == 0) {
    s.prehashed = true;
  } else if (bytes->compare(0, 2, "Ed") == 0) {
    s.prehashed = false;
  } else {
    Refuse("файл подписи: подпись не Ed25519");
  }
  CopyOut(*bytes, 2, s.keyId);
  CopyOut(*bytes, 10, s.signature);
  CopyOut(*global, 0, s.globalSignature);
  s.untrustedComment = std::string(lines[0].substr(kCommentPrefix.size()));
  s.trustedComment = std::string(lines[2].substr(kTrustedPrefix.size()));
  return s;
}

std::string FormatSignature(const Signature& s) {
  const std::string bytes =
      std::string(s.prehashed ? "ED" : "Ed") + std::string(View(s.keyId)) + std::string(View(s.signature));
  return std::string(kCommentPrefix) + s.untrustedComment + "\n" + EncodeBase64(bytes) + "\n" +
         std::string(kTrustedPrefix) + s.trustedComment + "\n" + EncodeBase64(View(s.globalSignature)) + "\n";
}

Signature SignMessage(const SecretKey& key, std::string_view message, const std::string& trustedComment,
                      const std::string& untrustedComment) {
  if (trustedComment.find_first_of("\r\n") != std::string::npos ||
      untrustedComment.find_first_of("\r\n") != std::string::npos) {
    Refuse("комментарий подписи должен быть одной строкой");
  }
  crypto::Seed seed{};
  crypto::Point point{};
  std::memcpy(seed.data(), key.key.data(), 32);
  std::memcpy(point.data(), key.key.data() + 32, 32);
  Signature s;
  s.prehashed = true;
  s.keyId = key.id;
  s.untrustedComment = untrustedComment;
  s.trustedComment = trustedComment;
  const auto digest = crypto::Blake2b512(message);
  s.signature = crypto::SignEd25519(seed, point, View(digest));
  s.globalSignature = crypto::SignEd25519(seed, point, std::string(View(s.signature)) + trustedComment);
  crypto::Wipe(seed.data(), seed.size());
  return s;
}

VerifyResult VerifySignature(const PublicKey& key, const Signature& s, std::string_view message) {
  if (s.keyId != key.id) return VerifyResult::kOtherKey;
  if (!s.prehashed) return VerifyResult::kLegacy;
  const auto digest = crypto::Blake2b512(message);
  if (!crypto::VerifyEd25519(key.key, View(digest), s.signature)) return VerifyResult::kBadSignature;
  if (!crypto::VerifyEd25519(key.key, std::string(View(s.signature)) + s.trustedComment, s.globalSignature)) {
    return VerifyResult::kBadTrustedComment;
  }
  return VerifyResult::kVerified;
}

}  // namespace dorvik::signing
