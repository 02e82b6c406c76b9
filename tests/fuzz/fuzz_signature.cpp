// The files of a signed distribution as the installer reads them from an
// untrusted folder: dorpack.sums, dorpack.sums.minisig and a public key
// (also a key stored without a password). Each parser either accepts or
// throws its own error type; nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "signing/minisign.h"
#include "signing/sums_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  using namespace dorvik::signing;
  try {
    ParseSumsList(text);
  } catch (const SumsFormatError&) {
  }
  try {
    const Signature s = ParseSignature(text);
    (void)FormatSignature(s);
    PublicKey key;
    key.id = s.keyId;
    (void)VerifySignature(key, s, text);
  } catch (const KeyFormatError&) {
  }
  try {
    (void)FormatPublicKey(ParsePublicKey(text));
  } catch (const KeyFormatError&) {
  }
  // A protected key would cost a gigabyte of scrypt per input: only the
  // unprotected form is opened here.
  try {
    if (!SecretKeyNeedsPassword(text)) (void)ParseSecretKey(text, "");
  } catch (const KeyFormatError&) {
  }
  return 0;
}
