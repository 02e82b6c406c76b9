// Whole installations with the Windows dorvik-cli.exe under Wine, through
// COM into the test VisM control and over TCP into a Linux mserver, each
// compared with the same installation made by the Linux dorvik-cli over the
// TCP link: the install logs must be equal line by line (dates, times and
// the server's port masked) and the servers must hold the same routines.
// Run by the Windows build's ctest, in its Wine prefix.
#include <algorithm>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "cutting_relay.h"
#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "link/tcp_link.h"
#include "mserver_process.h"
#include "run_program.h"

namespace dorvik {
namespace {

namespace fs = std::filesystem;
using testing::MServerProcess;
using testing::ProgramResult;
using testing::RunProgram;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

using testing::ReadFile;
using testing::WriteFile;

// The install log as UTF-8 lines, with the dates, the times and the port
// masked; every line must end in CR LF.
std::vector<std::string> MaskedLog(const fs::path& file, const std::vector<int>& ports) {
  const std::string bytes = ReadFile(file);
  std::vector<std::string> lines;
  EXPECT_TRUE(bytes.size() >= 2 && bytes.substr(bytes.size() - 2) == "\r\n") << file;
  std::size_t at = 0;
  const std::regex date(R"(\d{2}\.\d{2}\.\d{4})"), time(R"(\d{1,2}:\d{2}:\d{2})");
  while (at < bytes.size()) {
    const auto end = bytes.find('\n', at);
    std::string line = bytes.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? bytes.size() : end + 1;
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "a line without CR LF in " << file << ": " << line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = std::regex_replace(Cp1251ToUtf8(line), date, "DD.MM.YYYY");
    line = std::regex_replace(line, time, "HH:MM:SS");
    for (const int port : ports) {
      const std::string portText = std::to_string(port);
      for (auto p = line.find(portText); p != std::string::npos; p = line.find(portText, p)) {
        line.replace(p, portText.size(), "PORT");
      }
    }
    lines.push_back(line);
  }
  return lines;
}

const char* kSetupRoutine =
    "VMSETUP ;\n"
    " Q\n"
    "go() d w^dorvik(\"Настройка\"_$C(1)_\"50\")\n"
    " s ^VMSETUP(\"ans\")=$$ask^dorvik(2,\"Имя базы\",\"MAIN\")\n"
    " s ^VMSETUP(\"yn\")=$$ask^dorvik(1,\"Продолжить?\",\"2\")\n"
    " d w^dorvik(\"Готово\"_$C(1)_\"100\") q \"\"\n";

class WindowsInstallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (Env("VELMORA_WINDOWS_BIN").empty() || Env("VELMORA_WINE_RUN").empty()) {
      GTEST_FAIL() << "run by the Windows build's ctest (VELMORA_WINDOWS_BIN and VELMORA_WINE_RUN are not set)";
    }
  }

  void SetUp() override {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("dorvik-windows-test-" + std::to_string(rd()));
    for (const char* d : {"pack", "linux", "windows", "config"}) fs::create_directories(root_ / d);
    std::vector<std::string> routines{"\"VMSETUP.int\""};
    WriteFile(root_ / "pack" / "VMSETUP.int", kSetupRoutine);
    // 29 more routines, one of them long enough to be sent in pieces.
    for (int i = 1; i <= 29; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "VMR%02d", i);
      std::string text = std::string(name) + " ;\n Q\nok() q \"" + name + "\"\n";
      if (i == 7) {
        for (int n = 0; n < 400; ++n) text += "l" + std::to_string(n) + " s x=\"Строка " + std::to_string(n) + "\" q\n";
      }
      WriteFile(root_ / "pack" / (std::string(name) + ".int"), text);
      routines.push_back("\"" + std::string(name) + ".int\"");
    }
    WriteFile(root_ / "pack" / "VMCHK.int", "VMCHK ;\n Q\nchk() q $g(^VMCHK(\"say\"))\n");
    std::string list;
    for (const auto& r : routines) list += (list.empty() ? "" : ", ") + r;
    WriteFile(root_ / "pack" / "manifest.json",
              R"({"product": "Склад", "version": "3.1", "build_date": "08.12.2026", "password": "Секрет",)"
              R"("check_label": "chk^VMCHK", "check_routines": ["VMCHK.int"],)"
              R"("post_actions": [{"description": "Настройка базы", "label": "go^VMSETUP"}], "routines": [)" +
                  list + "]}");
    const auto packed =
        RunProgram(DORPACK_BINARY, {"build", "manifest.json", "-o", (root_ / "dorpack.dat").string()}, root_ / "pack");
    ASSERT_EQ(packed.status, 0) << packed.err;
    for (const char* d : {"linux", "windows"}) fs::copy_file(root_ / "dorpack.dat", root_ / d / "dorpack.dat");
  }

  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // 1 when the arguments start with a command (plan, verify...), which must
  // stay first, else 0.
  static std::ptrdiff_t Command(const std::vector<std::string>& args) {
    return !args.empty() && !args[0].empty() && args[0][0] != '-' ? 1 : 0;
  }

  ProgramResult Linux(const std::string& server, std::vector<std::string> args) {
    args.insert(args.begin() + Command(args), {"--server", server});
    return RunProgram(DORVIK_CLI_BINARY, args, root_ / "linux",
                      {"LC_ALL=C.UTF-8", "XDG_CONFIG_HOME=" + (root_ / "config").string()});
  }

  // dorvik-cli.exe under Wine with the VisM control, its default link.
  ProgramResult Windows(const std::string& server, std::vector<std::string> args) {
    args.insert(args.begin() + Command(args), {"--server", server});
    args.insert(args.begin(), (fs::path(Env("VELMORA_WINDOWS_BIN")) / "dorvik-cli.exe").string());
    return RunProgram(Env("VELMORA_WINE_RUN"), args, root_ / "windows");
  }

  // The routines a server holds in USER: name and first line of the object
  // code's listing, and the names of kept source texts.
  static std::string Routines(const MServerProcess& server) {
    TcpLink link;
    link.SetServer(BuildServerString("127.0.0.1", std::to_string(server.Port())));
    link.SetNamespace("USER");
    link.RunCode("s r=\"\",o=\"\" f  s r=$o(^rOBJ(r)) q:r=\"\"  s o=o_r_\",\"");
    link.RunCode("s r=\"\",o=o_\"|\" f  s r=$o(^ROUTINE(r)) q:r=\"\"  s o=o_r_\",\"");
    const std::string names = link.Evaluate("$g(o)");
    EXPECT_EQ(link.ErrorCode(), 0) << link.ErrorText();
    return names;
  }

  static std::string Value(const MServerProcess& server, const std::string& expression) {
    TcpLink link;
    link.SetServer(BuildServerString("127.0.0.1", std::to_string(server.Port())));
    link.SetNamespace("USER");
    return link.Evaluate(expression);
  }

  void ExpectSameLogs(std::vector<int> linuxPorts, std::vector<int> windowsPorts,
                      const std::string& logName = "dorvik.txt") {
    const auto linux = MaskedLog(root_ / "linux" / logName, linuxPorts);
    const auto windows = MaskedLog(root_ / "windows" / logName, windowsPorts);
    for (std::size_t i = 0; i < std::max(linux.size(), windows.size()); ++i) {
      const std::string l = i < linux.size() ? linux[i] : "<none>";
      const std::string w = i < windows.size() ? windows[i] : "<none>";
      EXPECT_EQ(l, w) << "line " << i + 1 << " of " << logName << " (Linux, then Windows)";
    }
  }

  fs::path root_;
};

TEST_F(WindowsInstallTest, AFullRunWithCheckLabelRoutinesAndAnsweredPostActionsMatchesLinux) {
  MServerProcess linuxServer(MSERVER_BINARY), windowsServer(MSERVER_BINARY);
  for (const char* d : {"linux", "windows"}) WriteFile(root_ / d / "answers.txt", "Склад \"Юг\"\nДа\n");
  const std::vector<std::string> args{"--namespace", "USER", "--answers", "answers.txt"};
  const auto onLinux = Linux(linuxServer.Address(), args);
  ASSERT_EQ(onLinux.status, 0) << onLinux.err;
  const auto onWindows = Windows(windowsServer.Address(), args);
  ASSERT_EQ(onWindows.status, 0) << onWindows.err;
  ExpectSameLogs({linuxServer.Port()}, {windowsServer.Port()});

  // Progress and the questions reach the (redirected, so UTF-8) output.
  for (const auto* run : {&onLinux, &onWindows}) {
    EXPECT_NE(run->err.find("Настройка"), std::string::npos) << run->err;
    EXPECT_NE(run->err.find("Имя базы"), std::string::npos) << run->err;
  }
  // The log's path as Windows names it (Wine's drive Z: is the root of the
  // host); redirected output goes through the C library's text mode, so its
  // lines end in CR LF.
  std::string windowsPath = "Z:" + (root_ / "windows" / "dorvik.txt").string();
  std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
  EXPECT_EQ(onWindows.out, windowsPath + "\r\n");
  EXPECT_EQ(onLinux.out, (root_ / "linux" / "dorvik.txt").string() + "\n");

  const std::string routines = Routines(linuxServer);
  EXPECT_NE(routines.find("VMR29,"), std::string::npos) << routines;
  EXPECT_EQ(Routines(windowsServer), routines);
  for (const char* expression : {"$g(^VMSETUP(\"ans\"))", "$g(^VMSETUP(\"yn\"))", "$$ok^VMR07"}) {
    EXPECT_EQ(Value(windowsServer, expression), Value(linuxServer, expression)) << expression;
  }
  EXPECT_EQ(Value(windowsServer, "$g(^VMSETUP(\"ans\"))"), Utf8ToCp866("Склад \"Юг\""));
}

TEST_F(WindowsInstallTest, KeepingTheSourcesWithThePasswordMatchesLinux) {
  MServerProcess linuxServer(MSERVER_BINARY), windowsServer(MSERVER_BINARY);
  const std::vector<std::string> args{"--namespace",       "USER",   "--keep-sources", "--password", "Секрет",
                                      "--no-post-actions", "--quiet"};
  const auto onLinux = Linux(linuxServer.Address(), args);
  ASSERT_EQ(onLinux.status, 0) << onLinux.err;
  const auto onWindows = Windows(windowsServer.Address(), args);
  ASSERT_EQ(onWindows.status, 0) << onWindows.err;
  ExpectSameLogs({linuxServer.Port()}, {windowsServer.Port()});
  EXPECT_EQ(Routines(windowsServer), Routines(linuxServer));

  // A wrong password is refused the same way, before the server is reached.
  const std::vector<std::string> wrong{"--keep-sources", "--password", "секрет", "--quiet"};
  EXPECT_EQ(Linux(linuxServer.Address(), wrong).status, 2);
  EXPECT_EQ(Windows(windowsServer.Address(), wrong).status, 2);
  ExpectSameLogs({linuxServer.Port()}, {windowsServer.Port()}, "dorvik1.txt");
}

// dorpack.exe under Wine packs the same manifest into the same bytes as the
// Linux dorpack (routine files found by a wildcard included), and lists it.
TEST_F(WindowsInstallTest, DorpackPacksTheSameBytesAsOnLinux) {
  std::string manifest = ReadFile(root_ / "pack" / "manifest.json");
  const std::string listed = "\"VMR01.int\"";
  const auto at = manifest.find(listed);
  ASSERT_NE(at, std::string::npos);
  manifest.replace(at, listed.size(), "\"VMR0?.int\"");
  for (int i = 2; i <= 9; ++i) {
    const std::string one = ", \"VMR0" + std::to_string(i) + ".int\"";
    manifest.erase(manifest.find(one), one.size());
  }
  WriteFile(root_ / "pack" / "wild.json", manifest);
  const auto onLinux =
      RunProgram(DORPACK_BINARY, {"build", "wild.json", "-o", (root_ / "linux.dat").string()}, root_ / "pack");
  ASSERT_EQ(onLinux.status, 0) << onLinux.err;
  const std::string exe = (fs::path(Env("VELMORA_WINDOWS_BIN")) / "dorpack.exe").string();
  const auto onWindows =
      RunProgram(Env("VELMORA_WINE_RUN"), {exe, "build", "wild.json", "-o", "windows.dat"}, root_ / "pack");
  ASSERT_EQ(onWindows.status, 0) << onWindows.err;
  EXPECT_EQ(ReadFile(root_ / "pack" / "windows.dat"), ReadFile(root_ / "linux.dat"));
  const auto list = RunProgram(Env("VELMORA_WINE_RUN"), {exe, "list", "windows.dat"}, root_ / "pack");
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("VMR09"), std::string::npos) << list.out;
}

// What a command says, whichever stream it went to, with Windows' CR LF
// line ends read as LF.
std::string Said(const ProgramResult& run) {
  std::string text = run.out + run.err;
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

TEST_F(WindowsInstallTest, PlanVerifyAndRollbackThroughTheControlMatchLinux) {
  MServerProcess linuxServer(MSERVER_BINARY), windowsServer(MSERVER_BINARY);
  const std::string empty = Routines(linuxServer);
  const std::vector<std::string> where{"--namespace", "USER"};

  auto both = [&](std::vector<std::string> args, int status) {
    args.insert(args.end(), where.begin(), where.end());
    const auto onLinux = Linux(linuxServer.Address(), args);
    const auto onWindows = Windows(windowsServer.Address(), args);
    EXPECT_EQ(onLinux.status, status) << Said(onLinux);
    EXPECT_EQ(onWindows.status, status) << Said(onWindows);
    return std::make_pair(Said(onLinux), Said(onWindows));
  };

  // The plan changes nothing and reads the same through the control.
  const auto plan = both({"plan"}, 0);
  EXPECT_EQ(plan.second, plan.first);
  EXPECT_EQ(Routines(windowsServer), empty);

  both({"--keep-sources", "--password", "Секрет", "--no-post-actions", "--quiet"}, 0);
  const auto verify = both({"verify"}, 0);
  EXPECT_EQ(verify.second, verify.first);

  // A routine changed behind the installer's back is found on both.
  for (const MServerProcess* server : {&linuxServer, &windowsServer}) {
    TcpLink link;
    link.SetServer(BuildServerString("127.0.0.1", std::to_string(server->Port())));
    link.SetNamespace("USER");
    link.RunCode("ZR  ZI \"VMR05 ;changed\" ZI \" Q\" ZS VMR05");
    ASSERT_EQ(link.ErrorCode(), 0) << link.ErrorText();
  }
  const auto changed = both({"verify"}, 1);
  EXPECT_EQ(changed.second, changed.first);
  EXPECT_NE(changed.first.find("VMR05"), std::string::npos) << changed.first;

  // The rollback through the control puts the namespace back as it was.
  both({"rollback"}, 0);
  EXPECT_EQ(Routines(windowsServer), empty);
  EXPECT_EQ(Routines(linuxServer), empty);
}

TEST_F(WindowsInstallTest, AServerStoppedInTheMiddleOfTheRestoreEndsBothRunsAlike) {
  MServerProcess linuxServer(MSERVER_BINARY), windowsServer(MSERVER_BINARY);
  std::vector<int> relayPorts;
  for (MServerProcess* server : {&linuxServer, &windowsServer}) {
    // The server stops as the fifteenth routine of the restore is sent.
    testing::CuttingRelay relay(server->Port(), "VMR15 ;", [server] { server->Kill(); });
    const std::vector<std::string> args{"--namespace", "USER", "--quiet", "--defaults"};
    const auto run = server == &linuxServer ? Linux(relay.Address(), args) : Windows(relay.Address(), args);
    EXPECT_TRUE(relay.Cut());
    EXPECT_EQ(run.status, 1) << run.err;
    relayPorts.push_back(relay.Port());
    server->Restart();
  }
  ExpectSameLogs({linuxServer.Port(), relayPorts[0]}, {windowsServer.Port(), relayPorts[1]});
  // The saved routines; which source nodes of the routine in flight the
  // killed server had written out depends on its timing, not on the client.
  const auto saved = [](const std::string& names) { return names.substr(0, names.find('|')); };
  const std::string routines = saved(Routines(linuxServer));
  EXPECT_NE(routines.find("VMR14,"), std::string::npos) << routines;
  EXPECT_EQ(routines.find("VMR15,"), std::string::npos) << routines;
  EXPECT_EQ(saved(Routines(windowsServer)), routines);
}

// A list made by sha256sum and signed with minisign -S checks in
// dorvik-cli.exe as on Linux: the same log lines after the header, and the
// same refusal once a byte of the data file changed.
TEST_F(WindowsInstallTest, AMinisignSignedDistributionVerifiesAsOnLinux) {
  const std::string minisign = "/usr/bin/minisign";
  if (!fs::exists(minisign)) GTEST_SKIP() << "minisign is not installed (Debian package minisign)";
  ASSERT_EQ(RunProgram(minisign, {"-G", "-W", "-p", "publisher.pub", "-s", "publisher.key"}, root_).status, 0);
  for (const char* d : {"linux", "windows"}) {
    const fs::path folder = root_ / d;
    ASSERT_EQ(RunProgram("/bin/sh", {"-c", "sha256sum dorpack.dat > dorpack.sums"}, folder).status, 0);
    ASSERT_EQ(
        RunProgram(minisign, {"-S", "-s", (root_ / "publisher.key").string(), "-m", "dorpack.sums", "-t", "Склад 3.1"},
                   folder)
            .status,
        0);
    fs::copy_file(root_ / "publisher.pub", folder / "publisher.pub");
  }
  MServerProcess linuxServer(MSERVER_BINARY), windowsServer(MSERVER_BINARY);
  const std::vector<std::string> args{"--trusted-key", "publisher.pub", "--no-post-actions", "--quiet"};
  const auto onLinux = Linux(linuxServer.Address(), args);
  ASSERT_EQ(onLinux.status, 0) << onLinux.err;
  const auto onWindows = Windows(windowsServer.Address(), args);
  ASSERT_EQ(onWindows.status, 0) << onWindows.err;
  ExpectSameLogs({linuxServer.Port()}, {windowsServer.Port()});
  const auto log = MaskedLog(root_ / "windows" / "dorvik.txt", {windowsServer.Port()});
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(log[3].rfind("Дистрибутив подписан ключом ", 0), 0u) << log[3];
  EXPECT_EQ(log[5], "Доверенный комментарий: Склад 3.1");

  for (const char* d : {"linux", "windows"}) {
    std::string bytes = ReadFile(root_ / d / "dorpack.dat");
    bytes[100] = static_cast<char>(bytes[100] ^ 1);
    WriteFile(root_ / d / "dorpack.dat", bytes);
  }
  const auto refusedLinux = Linux(linuxServer.Address(), args);
  const auto refusedWindows = Windows(windowsServer.Address(), args);
  EXPECT_EQ(refusedLinux.status, 4) << refusedLinux.err;
  EXPECT_EQ(refusedWindows.status, 4) << refusedWindows.err;
  EXPECT_NE(refusedWindows.err.find("файл dorpack.dat изменён после подписания"), std::string::npos)
      << refusedWindows.err;
  ExpectSameLogs({linuxServer.Port()}, {windowsServer.Port()}, "dorvik1.txt");
}

TEST_F(WindowsInstallTest, WithoutTheControlRegisteredNothingIsDone) {
  MServerProcess server(MSERVER_BINARY);
  const std::string dll = (fs::path(Env("VELMORA_WINDOWS_BIN")) / "vism-test-control.dll").string();
  ASSERT_EQ(RunProgram(Env("VELMORA_WINE_RUN"), {"regsvr32", "/u", "/s", dll}, root_ / "windows").status, 0);
  const auto run = Windows(server.Address(), {"--quiet"});
  ASSERT_EQ(RunProgram(Env("VELMORA_WINE_RUN"), {"regsvr32", "/s", dll}, root_ / "windows").status, 0);
  EXPECT_EQ(run.status, 5) << run.err;
  EXPECT_NE(run.err.find("Cache-клиент не обнаружен. Установите сначала cache-клиент"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(root_ / "windows" / "dorvik.txt"));

  // The TCP link needs no control.
  const auto tcp = Windows(server.Address(), {"--link", "tcp", "--quiet", "--no-post-actions"});
  EXPECT_EQ(tcp.status, 0) << tcp.err;
  EXPECT_EQ(Value(server, "$$ok^VMR01"), "VMR01");

  // Only Windows has the control; a link of another name is no link.
  const auto linuxVism = Linux(server.Address(), {"--link", "vism"});
  EXPECT_EQ(linuxVism.status, 2);
  EXPECT_NE(linuxVism.err.find("элемент VisM есть только в Windows"), std::string::npos) << linuxVism.err;
  EXPECT_EQ(Windows(server.Address(), {"--link", "com"}).status, 2);
}

}  // namespace
}  // namespace dorvik
