// dorvik-cli end to end: a distribution made with dorpack, installed into a
// real mserver from a folder of its own, with the exit status, the install
// log, the answers file, the licence and the saved settings checked.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "mserver_process.h"
#include "run_program.h"
#include "link/tcp_link.h"

namespace dorvik {
namespace {

namespace fs = std::filesystem;
using testing::MServerProcess;
using testing::RunProgram;

using testing::ReadFile;
using testing::WriteFile;

// The install log's lines, in UTF-8.
std::vector<std::string> LogLines(const fs::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(Cp1251ToUtf8(ReadFile(file)));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// `plain` as the data file `file` stores it (its key is byte 1).
std::string Encode(const std::string& file, const std::string& plain) {
  std::string out;
  for (const char c : plain)
    out += static_cast<char>(EncodeByte(static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(file[1])));
  return out;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const char* kMainRoutine = "VMMAIN ;\n Q\nok() q \"yes\"\n";
const char* kSetupRoutine =
    "VMSETUP ;\n"
    " Q\n"
    "go() d w^dorvik(\"Настройка\"_$C(1)_\"50\")\n"
    " s ^VMSETUP(\"ans\")=$$ask^dorvik(2,\"Имя базы\",\"MAIN\")\n"
    " s ^VMSETUP(\"yn\")=$$ask^dorvik(1,\"Продолжить?\",\"2\") q \"\"\n"
    "bad() q \"Отказ\"\n";

class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new MServerProcess(MSERVER_BINARY); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("dorvik-cli-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    fs::create_directories(root_ / "pack");
    fs::create_directories(root_ / "install");
    fs::create_directories(root_ / "config");
    WriteFile(root_ / "pack" / "VMMAIN.int", kMainRoutine);
    WriteFile(root_ / "pack" / "VMSETUP.int", kSetupRoutine);
    // The check label waits ^VMCHK("wait") seconds, then answers ^VMCHK("say").
    WriteFile(root_ / "pack" / "VMCHK.int", "VMCHK ;\n Q\nchk() h $g(^VMCHK(\"wait\")) q $g(^VMCHK(\"say\"))\n");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Packs the distribution into the install folder with this post-action
  // label, and with the check label chk^VMCHK when asked.
  void Pack(const std::string& label = "go^VMSETUP", bool check = false) {
    const std::string checkFields = check ? R"("check_label": "chk^VMCHK", "check_routines": ["VMCHK.int"],)" : "";
    WriteFile(root_ / "pack" / "manifest.json",
              R"({"product": "Склад", "version": "3.1", "build_date": "08.12.2026", "password": "Секрет",)" +
                  checkFields + R"("post_actions": [{"description": "Настройка", "label": ")" + label + R"("}],
                  "routines": ["VMMAIN.int", "VMSETUP.int"]})");
    const auto packed = RunProgram(
        DORPACK_BINARY, {"build", "manifest.json", "-o", (Folder() / "dorpack.dat").string()}, root_ / "pack");
    ASSERT_EQ(packed.status, 0) << packed.err;
  }

  fs::path Folder() const { return root_ / "install"; }
  std::string Server() const { return server_->Address(); }

  testing::ProgramResult Cli(std::vector<std::string> args, int interruptAfterMs = 0) {
    return RunProgram(DORVIK_CLI_BINARY, args, Folder(),
                      {"LC_ALL=C.UTF-8", "XDG_CONFIG_HOME=" + (root_ / "config").string()}, interruptAfterMs);
  }

  void ServerCommand(const std::string& line) {
    TcpLink link;
    link.SetServer(BuildServerString("127.0.0.1", std::to_string(server_->Port())));
    link.SetNamespace("USER");
    link.RunCode(line);
    ASSERT_EQ(link.ErrorCode(), 0) << line << ": " << link.ErrorText();
  }

  std::string ServerValue(const std::string& expression, const std::string& ns = "USER") {
    TcpLink link;
    link.SetServer(BuildServerString("127.0.0.1", std::to_string(server_->Port())));
    link.SetNamespace(ns);
    const std::string value = link.Evaluate(expression);
    EXPECT_EQ(link.ErrorCode(), 0) << expression << ": " << link.ErrorText();
    return value;
  }

  static MServerProcess* server_;
  fs::path root_;
};

MServerProcess* CliTest::server_ = nullptr;

TEST_F(CliTest, InstallsWithAnswersAndDefaultsAndNumbersItsLogs) {
  Pack();
  WriteFile(Folder() / "answers.txt", "Склад \"Юг\"\nНет\n");
  auto run = Cli({"--server", Server(), "--namespace", "user", "--answers", "answers.txt", "--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, (Folder() / "dorvik.txt").string() + "\n");
  auto log = LogLines(Folder() / "dorvik.txt");
  EXPECT_EQ(log.front().rfind("Протокол установки дистрибутива. ", 0), 0u);
  EXPECT_TRUE(Has(log, "Продукт: Склад")) << run.err;
  EXPECT_TRUE(Has(log, "Успешное соединение с областью USER"));
  EXPECT_TRUE(Has(log, "  Ответ пользователя: Склад \"Юг\""));
  EXPECT_TRUE(Has(log, "  Ответ пользователя: 2"));
  EXPECT_TRUE(Has(log, "Последействия упешно выполнены."));
  EXPECT_EQ(log.back().rfind("Продолжительность установки: ", 0), 0u);
  EXPECT_EQ(ServerValue("$$ok^VMMAIN"), "yes");
  EXPECT_EQ(ServerValue("$g(^VMSETUP(\"ans\"))"), Utf8ToCp866("Склад \"Юг\""));
  EXPECT_EQ(ServerValue("$g(^VMSETUP(\"yn\"))"), "2");
  // The settings of the run are kept for the next one.
  const std::string settings = ReadFile(root_ / "config" / "velmora" / "dorvik.conf");
  EXPECT_NE(settings.find("NS=USER"), std::string::npos) << settings;
  EXPECT_NE(settings.find("Port=" + std::to_string(server_->Port())), std::string::npos) << settings;

  // Again, from the saved settings and with the defaults: the next log name.
  run = Cli({"--defaults"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, (Folder() / "dorvik1.txt").string() + "\n");
  EXPECT_NE(run.err.find("Настройка"), std::string::npos) << "progress goes to standard error";
  EXPECT_EQ(ServerValue("$g(^VMSETUP(\"ans\"))"), "MAIN");
  EXPECT_EQ(ServerValue("$g(^VMSETUP(\"yn\"))"), "2");

  // Without a terminal and without answers the defaults are taken and logged.
  run = Cli({"--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  log = LogLines(Folder() / "dorvik2.txt");
  EXPECT_EQ(std::count(log.begin(), log.end(), "  Ответ по умолчанию: вопрос задан без терминала и без файла ответов."),
            2);

  // An answer that names no button closes the yes/no question as Esc does.
  WriteFile(Folder() / "answers.txt", "x\nможет быть\n");
  run = Cli({"--quiet", "--answers", "answers.txt"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("\"может быть\" (строка 2 файла ответов)"), std::string::npos) << run.err;
  EXPECT_EQ(ServerValue("$g(^VMSETUP(\"yn\"))"), "2");
}

TEST_F(CliTest, FailedPostActionFailsTheInstallationAndAnUnfitLabelIsDamage) {
  Pack("bad^VMSETUP");
  auto run = Cli({"--server", Server(), "--quiet"});
  EXPECT_EQ(run.status, 1) << run.err;
  auto log = LogLines(Folder() / "dorvik.txt");
  EXPECT_TRUE(Has(log, "Неуспех. Отказ"));
  EXPECT_NE(run.err.find("Отказ"), std::string::npos);

  // dorpack refuses a label the installer would refuse; a file made by
  // other means that carries one is a damaged distribution.
  WriteFile(root_ / "pack" / "manifest.json",
            R"({"product": "P", "version": "1", "build_date": "D", "password": "p",
  "post_actions": [{"description": "d", "label": "bad^VMSETUP\") k ^VMSETUP w(\""}], "routines": ["VMMAIN.int"]})");
  const auto refused = RunProgram(DORPACK_BINARY, {"build", "manifest.json", "-o", "x.dat"}, root_ / "pack");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("manifest.json:2: метка последействия 1"), std::string::npos) << refused.err;
  Pack();
  std::string bytes = ReadFile(Folder() / "dorpack.dat");
  const std::string good = Encode(bytes, "go^VMSETUP@");
  bytes.replace(bytes.find(good), good.size(), Encode(bytes, "bad^VMSETUP\") k ^VMSETUP w(\"@"));
  // The integrity marker covers the post-action list: the edit is refused
  // before anything reaches the server.
  WriteFile(Folder() / "dorpack.dat", bytes);
  run = Cli({"--server", Server(), "--quiet"});
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.err.find("Файл данных испорчен: содержимое изменено после упаковки"), std::string::npos) << run.err;
  // Without the marker (a file of another packer) the check stage refuses it.
  const auto marker = bytes.find(Encode(bytes, "VMSEAL:"));
  bytes.erase(marker, bytes.find(Encode(bytes, "\r"), marker) - marker);
  WriteFile(Folder() / "dorpack.dat", bytes);
  run = Cli({"--server", Server(), "--quiet"});
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.err.find("Ошибка в структуре дистрибутива"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Файл данных испорчен: последействие 1 нельзя выполнить"), std::string::npos) << run.err;
}

// A damaged data file is exit status 4 wherever the damage is found, with
// its cause on standard error, and nothing of a cut section is installed.
TEST_F(CliTest, DamagedFilesAreRefusedWithStatusFour) {
  Pack();
  const std::string sealed = ReadFile(Folder() / "dorpack.dat");
  // A sealed file cut in its last routine: refused when the header is read.
  WriteFile(Folder() / "dorpack.dat", sealed.substr(0, sealed.size() - 5));
  auto run = Cli({"--server", Server(), "--quiet", "--defaults"});
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.err.find("Ошибка инициализации установщика"), std::string::npos) << run.err;
  // The message and the install log give the same reason.
  const std::string why = "файл обрывается на смещении " + std::to_string(sealed.size() - 5) + " из " +
                          std::to_string(sealed.size()) + " байт: целы программ 1 из 2 и программ проверки 0 из 0";
  EXPECT_NE(run.err.find("Файл данных испорчен: " + why), std::string::npos) << run.err;
  EXPECT_TRUE(Has(LogLines(Folder() / "dorvik.txt"), "Ошибка GUI приложения: " + why));

  // Cut right after the source password: damaged, never an empty
  // distribution installed.
  std::size_t bodyAt = 2;
  for (int field = 0; field < 3; ++field) bodyAt = sealed.find('\r', bodyAt) + 1;  // the plain header
  const std::size_t afterPassword = sealed.find(Encode(sealed, "\r"), bodyAt) + 1;
  WriteFile(Folder() / "dorpack.dat", sealed.substr(0, afterPassword));
  run = Cli({"--server", Server(), "--quiet", "--defaults"});
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.err.find("где должна начинаться запись: метка проверки"), std::string::npos) << run.err;
  WriteFile(Folder() / "dorpack.dat", sealed);
  EXPECT_EQ(RunProgram(DORPACK_BINARY, {"list", "dorpack.dat"}, Folder()).status, 0);
  WriteFile(Folder() / "dorpack.dat", sealed.substr(0, afterPassword));
  EXPECT_EQ(RunProgram(DORPACK_BINARY, {"list", "dorpack.dat"}, Folder()).status, 1);

  // The same file as another packer writes it (no marker): the restore
  // counts first and refuses the cut record before any routine is stored.
  const std::string marker = Encode(sealed, "VMSEAL:");
  const auto at = sealed.find(marker);
  ASSERT_NE(at, std::string::npos);
  const std::string unsealed = sealed.substr(0, at) + sealed.substr(sealed.find(Encode(sealed, "\r"), at));
  ServerCommand("k ^ROUTINE(\"VMMAIN\"),^rOBJ(\"VMMAIN\")");
  WriteFile(Folder() / "dorpack.dat", unsealed.substr(0, unsealed.size() - 5));
  run = Cli({"--server", Server(), "--quiet", "--defaults"});
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.err.find("Файл данных испорчен: файл обрывается на смещении"), std::string::npos) << run.err;
  EXPECT_EQ(ServerValue("$t(^VMMAIN)"), "") << "a routine of the cut section was stored";

  // A routine whose last line lost its line end.
  std::string lineCut = unsealed;
  lineCut.erase(lineCut.size() - 2, 1);
  WriteFile(Folder() / "dorpack.dat", lineCut);
  run = Cli({"--server", Server(), "--quiet", "--defaults"});
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.err.find("байт после конца её последней строки"), std::string::npos) << run.err;

  // A zero byte found by the library test (it was status 3, "no server").
  std::string zero = unsealed;
  zero[zero.find(Encode(zero, "VMMAIN")) + 2] = '\0';
  WriteFile(Folder() / "dorpack.dat", zero);
  run = Cli({"--server", Server(), "--quiet", "--defaults"});
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.err.find("Файл данных испорчен: нулевой байт на смещении"), std::string::npos) << run.err;

  // The unsealed file whole installs as before.
  WriteFile(Folder() / "dorpack.dat", unsealed);
  run = Cli({"--server", Server(), "--quiet", "--defaults"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ServerValue("$$ok^VMMAIN"), "yes");
}

TEST_F(CliTest, SoftPreActionGoesOnAndCtrlCStopsWithoutATerminal) {
  Pack("go^VMSETUP", true);
  ServerCommand("s ^VMCHK(\"wait\")=0,^VMCHK(\"say\")=\"" + Utf8ToCp866("Мало места") + "\"");
  auto run = Cli({"--server", Server(), "--quiet", "--defaults"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(Has(LogLines(Folder() / "dorvik.txt"), "Сбой программы. Не выполнилось преддействие.  Мало места"));

  run = Cli({"--server", Server(), "--quiet", "--defaults", "--soft", "--chunk-limit", "5"});
  EXPECT_EQ(run.status, 0) << run.err;
  auto log = LogLines(Folder() / "dorvik1.txt");
  EXPECT_TRUE(Has(log, "Неуспех. Мало места"));
  EXPECT_TRUE(Has(log, "Установка с \"мягким\" преддействием;"));
  EXPECT_EQ(ServerValue("$$ok^VMMAIN"), "yes");

  // Ctrl-C while the check label runs: asked at the next look, and without
  // a terminal the answer is to stop.
  ServerCommand("s ^VMCHK(\"wait\")=3,^VMCHK(\"say\")=\"\"");
  run = Cli({"--server", Server(), "--quiet"}, 1500);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("Прервать установку? Да"), std::string::npos) << run.err;
  log = LogLines(Folder() / "dorvik2.txt");
  EXPECT_FALSE(Has(log, "Восстановление программ дистрибутива."));
}

TEST_F(CliTest, LicenceMustBeAccepted) {
  Pack();
  WriteFile(Folder() / "licence.txt", "Условия\r\n");
  auto run = Cli({"--server", Server(), "--quiet", "--defaults"});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("--accept-licence"), std::string::npos) << run.err;
  EXPECT_FALSE(Has(LogLines(Folder() / "dorvik.txt"), "Параметры работы установщика:"));

  run = Cli({"--server", Server(), "--quiet", "--defaults", "--accept-licence"});
  EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(CliTest, SourcePasswordMustMatch) {
  Pack();
  auto run = Cli({"--server", Server(), "--quiet", "--defaults", "--keep-sources", "--password", "секрет"});
  EXPECT_EQ(run.status, 2) << run.err;
  run = Cli({"--server", Server(), "--quiet", "--defaults", "--keep-sources", "--password", "Секрет"});
  EXPECT_EQ(run.status, 0) << run.err;

  // From a file, so that it is not on the command line; CR LF is no part of it.
  WriteFile(root_ / "pw.txt", "Секрет\r\nnext line\n");
  run = Cli({"--server", Server(), "--quiet", "--defaults", "--keep-sources", "--password-file",
             (root_ / "pw.txt").string()});
  EXPECT_EQ(run.status, 0) << run.err;
  WriteFile(root_ / "pw.txt", "секрет\n");
  run = Cli({"--server", Server(), "--quiet", "--defaults", "--keep-sources",
             "--password-file=" + (root_ / "pw.txt").string()});
  EXPECT_EQ(run.status, 2) << run.err;
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--keep-sources", "--password-file", (root_ / "none.txt").string()}, "файл пароля "},
           {{"--keep-sources", "--password-file", (root_ / "pack").string()}, "файл пароля"},
           {{"--password-file", (root_ / "pw.txt").string()}, "--password-file используется только с --keep-sources"},
           {{"--keep-sources", "--password", "a", "--password-file", "f"}, "исключают друг друга"},
           // Without a terminal and without a file there is nobody to ask.
           {{"--keep-sources"}, "укажите --password-file ФАЙЛ или запустите программу в терминале"}}) {
    run = Cli(args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  const auto help = Cli({"--help"});
  EXPECT_NE(help.out.find("другие пользователи машины могут его увидеть"), std::string::npos) << help.out;
}

TEST_F(CliTest, NoServerOrNoNamespace) {
  Pack();
  auto run = Cli({"--server", "127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()), "--quiet"});
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_TRUE(Has(LogLines(Folder() / "dorvik.txt"), "Подключение к системной области."));

  run = Cli({"--server", Server(), "--namespace", "NOWHERE", "--quiet"});
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_TRUE(Has(LogLines(Folder() / "dorvik1.txt"), "На сервере нет области NOWHERE"));
}

TEST_F(CliTest, LibraryDistributionGoesToTheLibraryNamespace) {
  WriteFile(root_ / "pack" / "%VMLIB.int", "%VMLIB ;\n Q\nok() q \"lib\"\n");
  WriteFile(root_ / "pack" / "manifest.json",
            R"({"product": "Lib", "version": "1", "build_date": "1", "password": "p", "routines": ["%VMLIB.int"]})");
  ASSERT_EQ(
      RunProgram(DORPACK_BINARY, {"build", "manifest.json", "-o", (Folder() / "dorpack.dat").string()}, root_ / "pack")
          .status,
      0);
  // Without the restore: which namespace the run goes to is what counts here.
  const auto run = Cli({"--server", Server(), "--namespace", "USER", "--no-restore"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Область USER не используется"), std::string::npos) << run.err;
  EXPECT_TRUE(Has(LogLines(Folder() / "dorvik.txt"), "Успешное соединение с областью %CACHELIB"));
}

TEST_F(CliTest, UnreadableDistributionStillWritesTheLog) {
  auto run = Cli({"--server", Server()});
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.err.find("Ошибка инициализации установщика"), std::string::npos) << run.err;
  const auto log = LogLines(Folder() / "dorvik.txt");
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1], "Версия установщика: 2.9");

  WriteFile(Folder() / "dorpack.dat", std::string("\0\x05", 2));
  run = Cli({"--server", Server()});
  EXPECT_EQ(run.status, 4) << run.err;
}

TEST_F(CliTest, UsageErrors) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--chunk-limit", "abc"},
                                               {"--soft", "--no-pre-actions"},
                                               {"--keep-sources"},
                                               {"--answers", "missing.txt"},
                                               {"--server", "host:99999"},
                                               {"extra"}}) {
    const auto run = Cli(args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
    EXPECT_NE(run.err.find("--help"), std::string::npos);
    EXPECT_FALSE(fs::exists(Folder() / "dorvik.txt"));
  }
  const auto help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--answers ФАЙЛ"), std::string::npos);
}

}  // namespace
}  // namespace dorvik
