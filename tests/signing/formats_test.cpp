// The file formats: sha256sum's list, minisign's keys and signatures, and
// what each refuses.
#include <gtest/gtest.h>

#include "distribution/codepage.h"
#include "signing/minisign.h"
#include "signing/sums_list.h"

namespace dorvik::signing {
namespace {

const std::string kSum = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(SumsList, ReadsWhatSha256sumWritesAndRefusesTheRest) {
  const auto entries = ParseSumsList(kSum + "  dorpack.dat\n" + kSum + " *IMAGES/p1.jpg\r\n" + kSum + "  readme.txt");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].name, "IMAGES/p1.jpg");
  EXPECT_EQ(Sha256::ToHex(entries[2].digest), kSum);
  EXPECT_EQ(FormatSumsList({entries[0]}), kSum + "  dorpack.dat\n");

  const struct {
    std::string text;
    const char* reason;
  } bad[] = {
      {kSum + "  a\n\n", "строка 2: пустая строка"},
      {"\\" + kSum + "  a\\nb\n", "строка 1: имя файла с особыми знаками"},
      {kSum + " a\n", "строка 1: не в виде"},
      {kSum.substr(1) + "   a\n", "строка 1: сумма SHA-256 не из 64"},
      {"g" + kSum.substr(1) + "  a\n", "строка 1: сумма SHA-256 не из 64"},
      {kSum + "  /etc/passwd\n", "строка 1: имя файла выходит за папку"},
      {kSum + "  IMAGES/../../x\n", "строка 1: имя файла выходит за папку"},
      {kSum + "  ./dorpack.dat\n", "строка 1: имя файла выходит за папку"},
      {kSum + "  IMAGES\\p1.jpg\n", "строка 1: имя файла выходит за папку"},
      {kSum + "  C:x\n", "строка 1: имя файла выходит за папку"},
      {kSum + "  IMAGES//p1.jpg\n", "строка 1: имя файла выходит за папку"},
      {kSum + "  a\n" + kSum + "  a\n", "строка 2: файл назван второй раз"},
  };
  for (const auto& c : bad) {
    try {
      ParseSumsList(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const SumsFormatError& e) {
      EXPECT_NE(Cp1251ToUtf8(e.what()).find(c.reason), std::string::npos) << Cp1251ToUtf8(e.what());
    }
  }
}

TEST(MinisignFormats, KeysAndSignaturesSurviveTheirFilesAndDamageIsRefused) {
  const KeyPair pair = GenerateKeyPair();
  const std::string pub = FormatPublicKey(pair.publicKey);
  EXPECT_EQ(pub.rfind("untrusted comment: minisign public key " + KeyIdText(pair.publicKey.id) + "\n", 0), 0u);
  const PublicKey back = ParsePublicKey(pub);
  EXPECT_EQ(back.id, pair.publicKey.id);
  EXPECT_EQ(back.key, pair.publicKey.key);
  // The base64 line alone, as minisign -P takes it.
  EXPECT_EQ(ParsePublicKey(pub.substr(pub.find('\n') + 1)).key, pair.publicKey.key);

  const std::string unprotected = FormatSecretKey(pair.secretKey, std::nullopt);
  EXPECT_FALSE(SecretKeyNeedsPassword(unprotected));
  const SecretKey secret = ParseSecretKey(unprotected, "ignored");
  EXPECT_EQ(secret.key, pair.secretKey.key);

  const Signature s = SignMessage(secret, "message", "trusted", "untrusted");
  const Signature read = ParseSignature(FormatSignature(s));
  EXPECT_EQ(read.trustedComment, "trusted");
  EXPECT_EQ(VerifySignature(pair.publicKey, read, "message"), VerifyResult::kVerified);
  EXPECT_EQ(VerifySignature(pair.publicKey, read, "massage"), VerifyResult::kBadSignature);
  EXPECT_EQ(VerifySignature(GenerateKeyPair().publicKey, read, "message"), VerifyResult::kOtherKey);
  EXPECT_THROW(SignMessage(secret, "m", "two\nlines", "u"), KeyFormatError);

  // A changed secret key fails its check.
  std::string lines = unprotected;
  const auto at = lines.find('\n') + 1 + 88;  // inside the seed's base64
  lines[at] = lines[at] == 'A' ? 'B' : 'A';
  EXPECT_THROW(ParseSecretKey(lines, ""), KeyFormatError);

  const std::string bad[] = {
      "",
      "untrusted comment: x\n",
      "untrusted comment: x\nRWQ=\n",
      "untrusted comment: x\n" + pub.substr(pub.find('\n') + 1, 20) + "\n",
      "no comment\n" + pub.substr(pub.find('\n') + 1),
  };
  for (const auto& text : bad) EXPECT_THROW(ParsePublicKey(text), KeyFormatError) << text;
  // A point libgcrypt would abort on (here y = 1, a low-order point) is
  // refused as a key and never verifies, instead of ending the process.
  PublicKey degenerate = pair.publicKey;
  degenerate.key.fill(0);
  degenerate.key[0] = 1;
  const std::string degenerateText = FormatPublicKey(degenerate);
  EXPECT_THROW(ParsePublicKey(degenerateText), KeyFormatError);
  EXPECT_EQ(VerifySignature(degenerate, read, "message"), VerifyResult::kBadSignature);
  const std::string sig = FormatSignature(s);
  EXPECT_THROW(ParseSignature(sig.substr(0, sig.rfind("trusted comment"))), KeyFormatError);
  EXPECT_THROW(ParseSignature(sig + "extra\n"), KeyFormatError);
}

}  // namespace
}  // namespace dorvik::signing
