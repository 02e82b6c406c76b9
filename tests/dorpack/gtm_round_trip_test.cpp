// The real thing: routines saved by GT.M's own routine output utility %RO
// into a file, packed by dorpack, installed into mserver by dorvik-cli; every
// line of every routine reads back through $TEXT as GT.M's $TEXT gives it.
// Skipped, with the reason, where GT.M is not installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <sstream>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "gtm_location.h"
#include "link/tcp_link.h"
#include "mserver_process.h"
#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using dorvik::testing::ReadFile;
using dorvik::testing::RunProgram;
using dorvik::testing::WriteFile;

// The routines as GT.M keeps them: one .m file each, %VMLIB as _VMLIB.m.
const std::map<std::string, std::string> kRoutines{
    {"VMA", "VMA ; первая программа\n w \"Привет, мир\",!\n\n q\nsum(a,b) ; с параметрами\n\tq a+b\n"},
    {"%VMLIB", "%VMLIB ; библиотека\n q\nx() q \"x\" ; \"кавычки\" и ^глобалы\n"},
    {"VMLONG", "VMLONG\n s x=\"" + std::string(300, 'a') + "\"\n q\n"},
};

// GT.M's %RO writes a tab as blanks up to the next tab stop, where GT.M's own
// $TEXT gives the line start (the blanks after the label) as one blank; a
// line that held a tab is compared with its line start made one blank.
std::string OneBlankLineStart(const std::string& line) {
  const auto blank = line.find(' ');
  if (blank == std::string::npos) return line;
  const auto code = line.find_first_not_of(' ', blank);
  return line.substr(0, blank) + " " + (code == std::string::npos ? "" : line.substr(code));
}

bool SourceLineHasTab(const std::string& name, std::size_t index) {
  std::istringstream in(kRoutines.at(name));
  std::string line;
  for (std::size_t i = 0; i <= index && std::getline(in, line); ++i) {
  }
  return line.find('\t') != std::string::npos;
}

std::string FileOf(const std::string& name) { return (name[0] == '%' ? "_" + name.substr(1) : name) + ".m"; }

// Runs a shell command, answering its standard output.
std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

class GtmRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    gtm_ = dorvik::testing::FindGtm();
    if (gtm_.empty()) {
      GTEST_SKIP() << "GT.M is not installed (Debian's fis-gtm, or $gtm_dist holding mumps): the round trip needs "
                      "GT.M's %RO to write the routine output file";
    }
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("dorpack-gtm-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    for (const char* folder : {"r", "install", "config"}) fs::create_directories(root_ / folder);
  }
  void TearDown() override {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  // GT.M with the routines folder and a database of its own.
  std::string Gtm(const std::string& command) const {
    const std::string env = "cd '" + root_.string() + "' && export gtm_dist='" + gtm_ + "' gtmroutines='" +
                            (root_ / "r").string() + " " + gtm_ + "/libgtmutil.so' gtmgbldir='" +
                            (root_ / "g.gld").string() + "' && ";
    return Shell(env + command);
  }

  std::string gtm_;
  fs::path root_;
};

TEST_F(GtmRoundTrip, RoutinesSavedByGtmRoInstallWithTheSameText) {
  for (const auto& [name, text] : kRoutines) WriteFile(root_ / "r" / FileOf(name), text);
  Gtm("printf 'change -segment DEFAULT -file_name=" + (root_ / "g.dat").string() +
      "\\nexit\\n' | $gtm_dist/mumps -run GDE >/dev/null 2>&1 && $gtm_dist/mupip create >/dev/null 2>&1");

  // %RO asks for routines (an empty answer ends the list), the output file,
  // a header label and whether to strip comments.
  std::string answers;
  for (const auto& [name, text] : kRoutines) answers += name + "\n";
  WriteFile(root_ / "answers.txt", answers + "\n" + (root_ / "saved.ro").string() + "\nVelmora routines\nN\n");
  const std::string said = Gtm("$gtm_dist/mumps -run %RO <answers.txt 2>&1");
  const std::string saved = ReadFile(root_ / "saved.ro");
  ASSERT_FALSE(saved.empty()) << "GT.M's %RO wrote nothing:\n" << said;

  // GT.M's own $TEXT of every line, one "name|line" per output line.
  std::string driver = "drv ; $TEXT of the routines\n";
  for (const auto& [name, text] : kRoutines) {
    driver += " f i=1:1 s t=$t(+i^" + name + ") q:t=\"\"  w \"" + name + "|\",t,!\n";
  }
  WriteFile(root_ / "r" / "drv.m", driver + " q\n");
  std::map<std::string, std::vector<std::string>> gtmText;
  std::istringstream lines(Gtm("$gtm_dist/mumps -run drv 2>&1"));
  for (std::string line; std::getline(lines, line);) {
    const auto bar = line.find('|');
    ASSERT_NE(bar, std::string::npos) << "GT.M said: " << line;
    gtmText[line.substr(0, bar)].push_back(dorvik::Utf8ToCp866(line.substr(bar + 1)));
  }
  ASSERT_EQ(gtmText.size(), kRoutines.size());

  WriteFile(root_ / "manifest.json", R"({"product": "GT.M", "version": "1", "build_date": "09.12.2026",
    "password": "p", "routines": ["saved.ro"]})");
  const auto packed =
      RunProgram(DORPACK_BINARY, {"build", "manifest.json", "-o", (root_ / "install" / "dorpack.dat").string()}, root_);
  ASSERT_EQ(packed.status, 0) << packed.err << "\nthe file %RO wrote:\n" << saved;

  dorvik::testing::MServerProcess server(MSERVER_BINARY);
  // The sources are kept: $TEXT reads them.
  const auto installed = RunProgram(DORVIK_CLI_BINARY, {"--server", server.Address(), "--namespace", "USER", "--keep-sources", "--password", "p", "--quiet"},
                                    root_ / "install",
                                    {"LC_ALL=C.UTF-8", "XDG_CONFIG_HOME=" + (root_ / "config").string()});
  ASSERT_EQ(installed.status, 0) << installed.out << installed.err;

  // %RO writes the routines sorted by name, so %VMLIB comes first and makes
  // this a library distribution, which the installer puts into %CACHELIB.
  const std::string log = dorvik::Cp1251ToUtf8(ReadFile(root_ / "install" / "dorvik.txt"));
  ASSERT_NE(log.find("Успешное соединение с областью %CACHELIB"), std::string::npos) << log;
  dorvik::TcpLink link;
  link.SetServer(dorvik::BuildServerString("127.0.0.1", std::to_string(server.Port())));
  link.SetNamespace("%CACHELIB");
  for (const auto& [name, want] : gtmText) {
    SCOPED_TRACE(name);
    std::vector<std::string> got;
    for (std::size_t i = 1; i <= want.size() + 1; ++i) {
      const std::string line = link.Evaluate("$t(+" + std::to_string(i) + "^" + name + ")");
      ASSERT_EQ(link.ErrorCode(), 0) << link.ErrorText();
      if (line.empty()) break;
      got.push_back(line);
    }
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (SourceLineHasTab(name, i)) {
        EXPECT_NE(got[i], want[i]) << "%RO no longer expands tabs: compare line " << i + 1 << " as it stands";
        EXPECT_EQ(OneBlankLineStart(got[i]), want[i]) << "line " << i + 1;
      } else {
        EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
      }
    }
  }
}

}  // namespace
