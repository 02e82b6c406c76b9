// dorvik-cli and the publisher's signature, end to end against a real
// mserver: a trusted signature installs and is logged right after the log
// header; a refused one stops the run with exit status 4 before the server
// is reached; trust comes from --trusted-key, --require-signature and the
// settings file; verify names the signer.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>

#include "distribution/codepage.h"
#include "mserver_process.h"
#include "run_program.h"

namespace dorvik {
namespace {

namespace fs = std::filesystem;
using testing::MServerProcess;
using testing::ReadFile;
using testing::RunProgram;
using testing::WriteFile;

std::vector<std::string> LogLines(const fs::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(Cp1251ToUtf8(ReadFile(file)));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

class SignatureCliTest : public ::testing::Test {
 public:  // the table of refusals prepares its folders through these
  static void SetUpTestSuite() { server_ = new MServerProcess(MSERVER_BINARY); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("dorvik-signature-test-" + std::to_string(rd()));
    for (const char* d : {"pack", "install", "config/velmora"}) fs::create_directories(root_ / d);
    WriteFile(root_ / "pack" / "VMSIGN.int", "VMSIGN ;\n Q\nok() q \"signed\"\n");
    WriteFile(root_ / "pack" / "manifest.json",
              R"({"product": "Склад", "version": "3.1", "build_date": "09.12.2026", "password": "p",)"
              R"("routines": ["VMSIGN.int"]})");
    Dorpack({"build", "manifest.json", "-o", (Folder() / "dorpack.dat").string()});
    WriteFile(Folder() / "readme.txt", "readme\r\n");
    Dorpack({"keygen", "-W", "-p", "maker.pub", "-s", "maker.key"});
    Dorpack({"keygen", "-W", "-p", "other.pub", "-s", "other.key"});
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void Dorpack(const std::vector<std::string>& args) {
    const auto r = RunProgram(DORPACK_BINARY, args, root_ / "pack");
    ASSERT_EQ(r.status, 0) << r.err;
  }
  void Sign(const char* key) { Dorpack({"sign", key, Folder().string(), "-t", "Склад 3.1"}); }
  // The base64 line of a public key, as the settings keep it.
  std::string KeyLine(const char* file) {
    const std::string text = ReadFile(root_ / "pack" / file);
    const auto start = text.find('\n') + 1;
    return text.substr(start, text.find('\n', start) - start);
  }
  void Settings(const std::string& lines) { WriteFile(root_ / "config" / "velmora" / "dorvik.conf", lines); }

  fs::path Folder() const { return root_ / "install"; }
  std::string MakerKey() const { return (root_ / "pack" / "maker.pub").string(); }

  testing::ProgramResult Cli(std::vector<std::string> args) {
    args.insert(args.begin() + (!args.empty() && args[0] == "verify" ? 1 : 0), {"--server", server_->Address()});
    return RunProgram(DORVIK_CLI_BINARY, args, Folder(),
                      {"LC_ALL=C.UTF-8", "XDG_CONFIG_HOME=" + (root_ / "config").string()});
  }

  static MServerProcess* server_;
  fs::path root_;
};

MServerProcess* SignatureCliTest::server_ = nullptr;

TEST_F(SignatureCliTest, ATrustedSignatureInstallsAndIsLoggedAfterTheHeader) {
  Sign("maker.key");
  auto run = Cli({"--trusted-key", MakerKey(), "--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto log = LogLines(Folder() / "dorvik.txt");
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(log[1], "Версия установщика: 2.9");
  EXPECT_EQ(log[2], "");
  EXPECT_EQ(log[3].rfind("Дистрибутив подписан ключом ", 0), 0u) << log[3];
  EXPECT_EQ(log[4], "Подпись проверена: ключ доверенный, файлы дистрибутива совпадают со списком сумм.");
  EXPECT_EQ(log[5], "Доверенный комментарий: Склад 3.1");
  EXPECT_EQ(log[6], "");
  EXPECT_EQ(log[7], "Продукт: Склад");

  // verify reports whose distribution it compared against.
  run = Cli({"verify", "--trusted-key", MakerKey()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Подпись дистрибутива: ключ "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(", проверена, ключ доверенный; доверенный комментарий: Склад 3.1"), std::string::npos)
      << run.out;

  // Without trust settings the signer is reported, not trusted.
  run = Cli({"--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto untrusted = LogLines(Folder() / "dorvik1.txt");
  ASSERT_GE(untrusted.size(), 6u);
  EXPECT_EQ(untrusted[4].rfind("Ключ не входит в число доверенных", 0), 0u) << untrusted[4];
  EXPECT_EQ(untrusted[6], "Продукт: Склад");
}

TEST_F(SignatureCliTest, UnsignedWithoutTrustSettingsLogsAsBefore) {
  const auto run = Cli({"--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto log = LogLines(Folder() / "dorvik.txt");
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[2], "");
  EXPECT_EQ(log[3], "Продукт: Склад");
  EXPECT_FALSE(Has(log, "Подпись"));
  EXPECT_FALSE(Has(log, "Дистрибутив подписан"));
}

// Each way trust refuses a distribution: exit status 4, the reason on
// standard error and in the log, and no connection to the server at all.
TEST_F(SignatureCliTest, RefusedDistributionsNeverReachTheServer) {
  struct Case {
    const char* name;
    std::function<void(SignatureCliTest&)> prepare;
    std::vector<std::string> args;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"changed data file after signing",
       [](SignatureCliTest& t) {
         t.Sign("maker.key");
         std::string bytes = ReadFile(t.Folder() / "dorpack.dat");
         bytes[bytes.size() - 1] = static_cast<char>(bytes.back() ^ 1);
         WriteFile(t.Folder() / "dorpack.dat", bytes);
       },
       {"--trusted-key", "KEY"},
       "файл dorpack.dat изменён после подписания"},
      {"unsigned, a trusted key given", [](SignatureCliTest&) {}, {"--trusted-key", "KEY"}, "дистрибутив не подписан"},
      {"unsigned, signature required", [](SignatureCliTest&) {}, {"--require-signature"}, "дистрибутив не подписан"},
      {"unsigned, signature required in the settings",
       [](SignatureCliTest& t) { t.Settings("RequireSignature=1\n"); },
       {},
       "дистрибутив не подписан"},
      {"signed by a key the settings do not trust",
       [](SignatureCliTest& t) {
         t.Sign("other.key");
         t.Settings("TrustedKeys=" + t.KeyLine("maker.pub") + "\n");
       },
       {},
       "которого нет среди доверенных"},
      {"a trusted key in the settings that is no key",
       [](SignatureCliTest& t) {
         t.Sign("maker.key");
         t.Settings("TrustedKeys=" + t.KeyLine("maker.pub") + ";RWQnot-a-key\n");
       },
       {},
       "доверенный ключ в настройках (TrustedKeys) не читается"},
      {"added readme after signing",
       [](SignatureCliTest& t) {
         fs::remove(t.Folder() / "readme.txt");
         t.Sign("maker.key");
         WriteFile(t.Folder() / "readme.txt", "new readme");
       },
       {"--trusted-key", "KEY"},
       "файл readme.txt не назван в списке сумм"},
  };
  for (const auto& c : cases) {
    SetUp();
    c.prepare(*this);
    std::vector<std::string> args = c.args;
    for (auto& a : args) {
      if (a == "KEY") a = MakerKey();
    }
    const auto run = Cli(args);
    EXPECT_EQ(run.status, 4) << c.name << ": " << run.err;
    const std::string refused = "Подпись дистрибутива не принята: ";
    EXPECT_NE(run.err.find("Ошибка инициализации установщика: " + refused), std::string::npos) << c.name << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << c.name << ": " << run.err;
    const auto log = LogLines(Folder() / "dorvik.txt");
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) {
      return l.rfind(refused, 0) == 0 && l.find(c.reason) != std::string::npos;
    })) << c.name;
    EXPECT_FALSE(Has(log, "Подключение к системной области.")) << c.name << ": the server was reached";
    EXPECT_FALSE(Has(log, "Продукт:")) << c.name << ": the header of a refused distribution was read";
    TearDown();
  }
}

TEST_F(SignatureCliTest, AKeyFileThatIsNoKeyIsAUsageError) {
  WriteFile(Folder() / "not.pub", "untrusted comment: x\nhello\n");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--trusted-key", "not.pub"},
                                               {"--trusted-key", "missing.pub"},
                                               {"--require-signature=yes"}}) {
    const auto run = Cli(args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args) << run.err;
    EXPECT_FALSE(fs::exists(Folder() / "dorvik.txt"));
  }
}

}  // namespace
}  // namespace dorvik
