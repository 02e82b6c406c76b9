// Every way a signed distribution is refused, each with its own reason, and
// the states that pass; whether a refusal stops the installation depends on
// the trust settings alone.
#include <gtest/gtest.h>

#include <functional>

#include "distribution/codepage.h"
#include "signed_folder.h"
#include "signing/sums_list.h"

namespace dorvik::signing {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::SignedFolder;
using testing::WriteBytes;

void FlipByte(const fs::path& file, std::size_t at) {
  std::string bytes = ReadBytes(file);
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  WriteBytes(file, bytes);
}

// Rewrites the folder's signature file through `change`.
void ChangeSignature(const SignedFolder& f, const std::function<void(Signature&)>& change) {
  Signature s = ParseSignature(ReadBytes(f.Path() / kSignatureFileName));
  change(s);
  WriteBytes(f.Path() / kSignatureFileName, FormatSignature(s));
}

struct RefusalCase {
  const char* name;
  std::function<void(const SignedFolder&)> change;
  const char* reason;  // a part of the reason, UTF-8
};

TEST(SignatureRefusals, EachCaseHasItsOwnReasonAndStopsTheInstallationUnderTrust) {
  const std::vector<RefusalCase> cases = {
      {"unsigned", [](const SignedFolder& f) { fs::remove(f.Path() / kSignatureFileName); }, "дистрибутив не подписан"},
      {"changed byte in the data file", [](const SignedFolder& f) { FlipByte(f.Path() / "dorpack.dat", 4321); },
       "файл dorpack.dat изменён после подписания"},
      {"changed byte in the licence", [](const SignedFolder& f) { FlipByte(f.Path() / "licence.txt", 0); },
       "файл licence.txt изменён после подписания"},
      {"changed byte in the readme", [](const SignedFolder& f) { FlipByte(f.Path() / "readme.txt", 3); },
       "файл readme.txt изменён после подписания"},
      {"changed byte in a picture", [](const SignedFolder& f) { FlipByte(f.Path() / "IMAGES" / "p2.jpg", 10); },
       "файл IMAGES/p2.jpg изменён после подписания"},
      {"removed file", [](const SignedFolder& f) { fs::remove(f.Path() / "readme.txt"); },
       "файла readme.txt из списка сумм нет в папке дистрибутива"},
      {"removed list", [](const SignedFolder& f) { fs::remove(f.Path() / kSumsFileName); },
       "нет списка сумм dorpack.sums"},
      {"added picture", [](const SignedFolder& f) { WriteBytes(f.Path() / "IMAGES" / "p3.jpg", "new"); },
       "файл IMAGES/p3.jpg не назван в списке сумм"},
      {"signature by another key",
       [](const SignedFolder& f) {
         const KeyPair other = GenerateKeyPair();
         SignDistribution(f.Path(), other.secretKey, "other");
       },
       "которого нет среди доверенных"},
      {"truncated signature file",
       [](const SignedFolder& f) {
         const std::string bytes = ReadBytes(f.Path() / kSignatureFileName);
         WriteBytes(f.Path() / kSignatureFileName, bytes.substr(0, bytes.size() - 30));
       },
       "файл подписи dorpack.sums.minisig повреждён"},
      {"legacy signature", [](const SignedFolder& f) { ChangeSignature(f, [](Signature& s) { s.prehashed = false; }); },
       "подпись старого вида"},
      {"altered trusted comment",
       [](const SignedFolder& f) { ChangeSignature(f, [](Signature& s) { s.trustedComment += " release"; }); },
       "доверенный комментарий подписи изменён"},
      {"changed list and file",
       [](const SignedFolder& f) {
         FlipByte(f.Path() / "licence.txt", 0);
         const std::string sums = ReadBytes(f.Path() / kSumsFileName);
         auto entries = ParseSumsList(sums);
         for (auto& e : entries) {
           if (e.name == "licence.txt") e.digest = HashFile(f.Path() / "licence.txt");
         }
         WriteBytes(f.Path() / kSumsFileName, FormatSumsList(entries));
       },
       "подпись не соответствует списку сумм"},
      {"list naming a file outside the folder",
       [](const SignedFolder& f) {
         const std::string sums = ReadBytes(f.Path() / kSumsFileName) + std::string(64, '0') + "  ../secret\n";
         const Signature s = SignMessage(f.Key().secretKey, sums, "c", "u");
         WriteBytes(f.Path() / kSumsFileName, sums);
         WriteBytes(f.Path() / kSignatureFileName, FormatSignature(s));
       },
       "список сумм dorpack.sums испорчен: строка 6"},
  };
  for (const auto& c : cases) {
    SignedFolder folder(c.name);
    ASSERT_EQ(folder.CheckTrusted().status, SignatureStatus::kVerifiedTrusted) << c.name;
    c.change(folder);
    const SignatureState state = folder.CheckTrusted();
    EXPECT_EQ(state.status, SignatureStatus::kRefused) << c.name;
    EXPECT_TRUE(state.blocksInstallation) << c.name;
    EXPECT_NE(Cp1251ToUtf8(state.reason).find(c.reason), std::string::npos)
        << c.name << ": " << Cp1251ToUtf8(state.reason);
    const auto lines = SignatureLogLines(state);
    ASSERT_FALSE(lines.empty()) << c.name;
    EXPECT_NE(Cp1251ToUtf8(lines[lines.size() - 2]).find("Подпись дистрибутива не принята: "), std::string::npos)
        << c.name;
  }
}

TEST(SignatureRefusals, WithoutTrustSettingsAStateIsOnlyReported) {
  SignedFolder folder("report");
  const TrustSettings none;
  // Signed, unchanged: the files match; the key could not be trusted.
  SignatureState state = CheckDistributionSignature(folder.Path(), folder.FilesRead(), none);
  EXPECT_EQ(state.status, SignatureStatus::kVerifiedUntrusted);
  EXPECT_EQ(state.signerKeyId, KeyIdText(folder.Key().publicKey.id));
  EXPECT_TRUE(state.trustedComment.empty()) << "an unchecked comment is not reported as trusted";
  auto lines = SignatureLogLines(state);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(Cp1251ToUtf8(lines[0]), "Дистрибутив подписан ключом " + state.signerKeyId + ".");
  EXPECT_EQ(lines[2], "");

  // Changed: refused, said, and the installation goes on as it always did.
  FlipByte(folder.Path() / "dorpack.dat", 1);
  state = CheckDistributionSignature(folder.Path(), folder.FilesRead(), none);
  EXPECT_EQ(state.status, SignatureStatus::kRefused);
  EXPECT_FALSE(state.blocksInstallation);
  lines = SignatureLogLines(state);
  EXPECT_NE(Cp1251ToUtf8(lines[1]).find("Подпись дистрибутива не прошла проверку: файл dorpack.dat изменён"),
            std::string::npos);

  // Unsigned and nothing demands a signature: no state, no log lines.
  fs::remove(folder.Path() / kSignatureFileName);
  state = CheckDistributionSignature(folder.Path(), folder.FilesRead(), none);
  EXPECT_EQ(state.status, SignatureStatus::kUnsigned);
  EXPECT_FALSE(state.blocksInstallation);
  EXPECT_TRUE(SignatureLogLines(state).empty());

  // The demand alone refuses it.
  TrustSettings require;
  require.requireSignature = true;
  state = CheckDistributionSignature(folder.Path(), folder.FilesRead(), require);
  EXPECT_EQ(state.status, SignatureStatus::kRefused);
  EXPECT_TRUE(state.blocksInstallation);
}

TEST(SignatureRefusals, ATrustedSignatureReportsItsSignerAndComment) {
  SignedFolder folder("trusted");
  TrustSettings trust;
  trust.trustedKeys.push_back(GenerateKeyPair().publicKey);  // another trusted key first
  trust.trustedKeys.push_back(folder.Key().publicKey);
  const SignatureState state = CheckDistributionSignature(folder.Path(), folder.FilesRead(), trust);
  EXPECT_EQ(state.status, SignatureStatus::kVerifiedTrusted);
  EXPECT_EQ(state.trustedComment, "timestamp:1\tfile:dorpack.sums\thashed");
  EXPECT_EQ(state.listedFiles,
            (std::vector<std::string>{"dorpack.dat", "licence.txt", "readme.txt", "IMAGES/p1.jpg", "IMAGES/p2.jpg"}));
  const auto lines = SignatureLogLines(state);
  ASSERT_EQ(lines.size(), 4u);
  // The comment's tabs become blanks in the log.
  EXPECT_EQ(Cp1251ToUtf8(lines[2]), "Доверенный комментарий: timestamp:1 file:dorpack.sums hashed");
  EXPECT_EQ(std::string(SignatureStatusKey(state.status)), "verified_trusted");
  EXPECT_NE(Cp1251ToUtf8(SignatureSummary(state)).find("проверена, ключ доверенный"), std::string::npos);
}

}  // namespace
}  // namespace dorvik::signing
