// Interoperability with the tools makers and admins already have: a folder
// signed by dorpack checks with minisign -V and sha256sum -c, and a list made
// by sha256sum and signed with minisign -S checks here. Skipped, saying so,
// where minisign is not installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "distribution/codepage.h"
#include "run_program.h"
#include "signing/distribution_signature.h"

namespace dorvik::signing {
namespace {

namespace fs = std::filesystem;
using dorvik::testing::ProgramResult;
using dorvik::testing::ReadFile;
using dorvik::testing::RunProgram;
using dorvik::testing::WriteFile;

// The program's full path on PATH, or empty.
std::string Which(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const auto end = std::min(dirs.find(':', start), dirs.size());
    const fs::path candidate = fs::path(dirs.substr(start, end - start)) / program;
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return candidate.string();
    start = end + 1;
  }
  return {};
}

class InteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    minisign_ = Which("minisign");
    sha256sum_ = Which("sha256sum");
    if (minisign_.empty()) GTEST_SKIP() << "minisign is not installed (Debian package minisign)";
    if (sha256sum_.empty()) GTEST_SKIP() << "sha256sum is not installed (Debian package coreutils)";
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("signing-interop-" + std::to_string(rd()));
    fs::create_directories(Dist() / "IMAGES");
    WriteFile(root_ / "VMMAIN.int", "VMMAIN ;\n Q\nok() q \"yes\"\n");
    WriteFile(root_ / "manifest.json",
              R"({"product": "Склад", "version": "1", "build_date": "09.12.2026", "password": "p",)"
              R"("routines": ["VMMAIN.int"]})");
    WriteFile(Dist() / "licence.txt", "Лицензия\r\n");
    WriteFile(Dist() / "IMAGES" / "p1.jpg", "picture");
  }
  void TearDown() override {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  fs::path Dist() const { return root_ / "dist"; }

  ProgramResult Run(const std::string& program, const std::vector<std::string>& args, const fs::path& folder) {
    return RunProgram(program, args, folder, {"LC_ALL=C.UTF-8"});
  }
  // A shell line, for the programs that read a password on standard input.
  ProgramResult Shell(const std::string& line) { return Run("/bin/sh", {"-c", line}, root_); }

  SignatureState Check(const fs::path& publicKeyFile) {
    TrustSettings trust;
    trust.trustedKeys.push_back(ParsePublicKey(ReadFile(publicKeyFile)));
    return CheckDistributionSignature(Dist(), {"dorpack.dat", "licence.txt", "IMAGES/p1.jpg"}, trust);
  }

  std::string minisign_, sha256sum_;
  fs::path root_;
};

TEST_F(InteropTest, AFolderSignedByDorpackChecksWithMinisignAndSha256sum) {
  ProgramResult r = Run(DORPACK_BINARY, {"keygen", "-W", "-p", "maker.pub", "-s", "maker.key"}, root_);
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run(DORPACK_BINARY,
          {"build", "manifest.json", "-o", (Dist() / "dorpack.dat").string(), "--sign", "maker.key", "-t",
           "Склад 1, сборка 9"},
          root_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(Dist() / "dorpack.sums").find("  dorpack.dat\n"), 64u);

  r = Run(minisign_, {"-V", "-m", "dorpack.sums", "-p", (root_ / "maker.pub").string()}, Dist());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Trusted comment: Склад 1, сборка 9"), std::string::npos) << r.out;
  r = Run(sha256sum_, {"-c", "dorpack.sums"}, Dist());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("IMAGES/p1.jpg: OK"), std::string::npos) << r.out;

  const SignatureState state = Check(root_ / "maker.pub");
  EXPECT_EQ(state.status, SignatureStatus::kVerifiedTrusted) << Cp1251ToUtf8(state.reason);
  EXPECT_EQ(state.trustedComment, "Склад 1, сборка 9");

  // Changed by one byte, the folder fails sha256sum as it fails here.
  std::string bytes = ReadFile(Dist() / "licence.txt");
  bytes[0] = 'X';
  WriteFile(Dist() / "licence.txt", bytes);
  EXPECT_NE(Run(sha256sum_, {"-c", "--quiet", "dorpack.sums"}, Dist()).status, 0);
  EXPECT_EQ(Check(root_ / "maker.pub").status, SignatureStatus::kRefused);
}

TEST_F(InteropTest, AListSignedWithMinisignChecksHereAndItsLegacyFormIsRefused) {
  ProgramResult r = Run(DORPACK_BINARY, {"build", "manifest.json", "-o", (Dist() / "dorpack.dat").string()}, root_);
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run(minisign_, {"-G", "-W", "-p", "admin.pub", "-s", "admin.key"}, root_);
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run("/bin/sh", {"-c", sha256sum_ + " dorpack.dat licence.txt IMAGES/p1.jpg > dorpack.sums"}, Dist());
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run(minisign_, {"-S", "-s", (root_ / "admin.key").string(), "-m", "dorpack.sums", "-t", "по-русски"}, Dist());
  ASSERT_EQ(r.status, 0) << r.err;

  SignatureState state = Check(root_ / "admin.pub");
  EXPECT_EQ(state.status, SignatureStatus::kVerifiedTrusted) << Cp1251ToUtf8(state.reason);
  EXPECT_EQ(state.trustedComment, "по-русски");
  // The key id as minisign names it in the public key's comment.
  const std::string pub = ReadFile(root_ / "admin.pub");
  EXPECT_NE(pub.find("minisign public key " + state.signerKeyId), std::string::npos) << pub;

  // dorpack signs with minisign's key too.
  r = Run(DORPACK_BINARY, {"sign", (root_ / "admin.key").string(), Dist().string()}, root_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Check(root_ / "admin.pub").status, SignatureStatus::kVerifiedTrusted);

  r = Run(minisign_, {"-S", "-l", "-s", (root_ / "admin.key").string(), "-m", "dorpack.sums"}, Dist());
  ASSERT_EQ(r.status, 0) << r.err;
  state = Check(root_ / "admin.pub");
  EXPECT_EQ(state.status, SignatureStatus::kRefused);
  EXPECT_NE(Cp1251ToUtf8(state.reason).find("подпись старого вида"), std::string::npos) << Cp1251ToUtf8(state.reason);
}

// Password-protected keys open in the other program: the same scrypt
// parameters on both sides.
TEST_F(InteropTest, PasswordProtectedKeysWorkBothWays) {
  ProgramResult r = Run(DORPACK_BINARY, {"build", "manifest.json", "-o", (Dist() / "dorpack.dat").string()}, root_);
  ASSERT_EQ(r.status, 0) << r.err;
  r = Shell("printf 'секрет\\nсекрет\\n' | " + std::string(DORPACK_BINARY) + " keygen -p ours.pub -s ours.key");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Shell("cd dist && " + sha256sum_ +
            " dorpack.dat licence.txt IMAGES/p1.jpg > dorpack.sums && printf "
            "'секрет\\n' | " +
            minisign_ + " -S -s ../ours.key -m dorpack.sums");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Check(root_ / "ours.pub").status, SignatureStatus::kVerifiedTrusted);

  r = Shell("printf 'другой\\nдругой\\n' | " + minisign_ + " -G -p theirs.pub -s theirs.key");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Shell("printf 'неверный\\n' | " + std::string(DORPACK_BINARY) + " sign theirs.key dist");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("неверный пароль"), std::string::npos) << r.err;
  r = Shell("printf 'другой\\n' | " + std::string(DORPACK_BINARY) + " sign theirs.key dist");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run(minisign_, {"-V", "-m", "dorpack.sums", "-p", (root_ / "theirs.pub").string()}, Dist());
  EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
}  // namespace dorvik::signing
