// kill -9 of the server or of dorvik-cli, and Ctrl-C once and three times,
// at many points of an installation with backup: inside the backup step (at
// each of its server calls, and between the updates of its copying line),
// and later in the check stage, the restore and the post-actions, and in
// a rollback. After
// each, the server is restarted if it was killed and `dorvik-cli rollback`
// is run; every routine global and what every routine answers must be as
// before the installation. The points are counted (the n-th request through
// a relay, the k-th backup update in the server's journal), not timed.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "distribution/funcs.h"
#include "fault_proxy.h"
#include "link/tcp_link.h"
#include "mserver_process.h"
#include "run_program.h"

namespace dorvik {
namespace {

namespace fs = std::filesystem;
using testing::FaultProxy;
using testing::MServerProcess;
using testing::ProxyEvent;
using testing::ReadFile;
using testing::RunProgram;
using testing::WriteFile;

constexpr int kRoutines = 60;
constexpr int kOldRoutines = 20;    // R1..R20 are on the server before
constexpr int kOldWithSource = 10;  // R1..R10 keep their source
constexpr int kMacroRoutine = 3;    // R3 has a macro source in ^rMAC
constexpr int kLinesPerRoutine = 40;

std::string Name(int i) { return "R" + std::to_string(i); }

std::string NewText(int i) {
  std::string text = Name(i) + " ;new\n Q\nv() q \"new\"\ngo() q \"\"\n";
  for (int l = 4; l < kLinesPerRoutine; ++l) text += "l" + std::to_string(l) + " s x=" + std::to_string(l) + " q\n";
  return text;
}

enum class Fault {
  kServerBeforeRequest,   // the server is killed before request n reaches it
  kServerAfterAnswer,     // ... once it has answered request n, before the client reads the answer
  kServerAtBackupUpdate,  // ... once the journal holds k updates of the backup global
  kClientAtRequest,       // dorvik-cli is killed when it sends request n
  kInterruptOnce,         // Ctrl-C when it sends request n
  kInterruptThrice,       // Ctrl-C three times when it sends request n
};

const char* FaultName(Fault f) {
  switch (f) {
    case Fault::kServerBeforeRequest:
      return "server killed before request";
    case Fault::kServerAfterAnswer:
      return "server killed after answer";
    case Fault::kServerAtBackupUpdate:
      return "server killed at backup update";
    case Fault::kClientAtRequest:
      return "client killed at request";
    case Fault::kInterruptOnce:
      return "Ctrl-C once at request";
    case Fault::kInterruptThrice:
      return "Ctrl-C three times at request";
  }
  return "";
}

struct ProbeCase {
  Fault fault;
  int at;                   // request or update number
  bool secondAttempt;       // a first installation succeeded before this one
  bool inRollback = false;  // the installation succeeds; the fault cuts the rollback, which is run again
};

// The process id of the dorvik-cli this test started, or 0.
int RunningCli() {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string stat = ReadFile(entry.path() / "stat");
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string state;
    int parent = 0;
    rest >> state >> parent;
    if (parent == ::getpid() && stat.substr(open + 1, close - open - 1) == "dorvik-cli") return std::stoi(stat);
  }
  return 0;
}

class RollbackProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("dorvik-probe-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    fs::create_directories(root_ / "pack");
    fs::create_directories(root_ / "install");
    fs::create_directories(root_ / "config");
    journal_ = root_ / "journal.txt";
    server_ =
        std::make_unique<MServerProcess>(MSERVER_BINARY, std::vector<std::string>{"--journal", journal_.string()});
    Pack();
  }
  void TearDown() override {
    server_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void Pack() {
    std::string routines;
    for (int i = 1; i <= kRoutines; ++i) {
      WriteFile(root_ / "pack" / (Name(i) + ".int"), NewText(i));
      routines += (i > 1 ? ", \"" : "\"") + Name(i) + ".int\"";
    }
    WriteFile(root_ / "pack" / "VMCHK.int", "VMCHK ;\n Q\nchk() q \"\"\n");
    WriteFile(root_ / "pack" / "manifest.json",
              R"({"product": "Склад", "version": "5.0", "build_date": "09.12.2026", "password": "pw",
                  "check_label": "chk^VMCHK", "check_routines": ["VMCHK.int"],
                  "post_actions": [{"description": "Настройка", "label": "go^R1"}], "routines": [)" +
                  routines + "]}");
    const auto packed = RunProgram(
        DORPACK_BINARY, {"build", "manifest.json", "-o", (Folder() / "dorpack.dat").string()}, root_ / "pack");
    ASSERT_EQ(packed.status, 0) << packed.err;
  }

  std::unique_ptr<TcpLink> Link() {
    auto link = std::make_unique<TcpLink>();
    link->SetServer(BuildServerString("127.0.0.1", std::to_string(server_->Port())));
    link->SetNamespace("USER");
    return link;
  }

  void Run(ServerLink& link, const std::string& code) {
    link.ClearError();
    link.RunCode(code);
    ASSERT_EQ(link.ErrorCode(), 0) << code << ": " << link.ErrorText();
  }

  // A namespace with nothing of ours, then R1..R20 in an older version:
  // R11..R20 without source, R3 with a macro source.
  void Reset() {
    auto link = Link();
    Run(*link, "k ^ROUTINE,^rOBJ,^rMAC,^rINDEX,^DorvikBackup,^R");
    for (int i = 1; i <= kOldRoutines; ++i) {
      Run(*link, "ZR  ZI \"" + Name(i) + " ;old\" ZI \" Q\" ZI \"v() q \"\"old\"\"\" ZS " + Name(i));
      link->SetParam(1, Name(i));
      if (i > kOldWithSource) Run(*link, "k ^ROUTINE(P1)");
      if (i == kMacroRoutine)
        Run(*link, "s ^rMAC(P1,0)=\"mac\",^rMAC(P1,0,0)=2,^rMAC(P1,0,1)=P1_\" ;mac\",^rMAC(P1,0,2)=\" Q\"");
    }
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names = {"VMCHK", "dorvik"};
    for (int i = 1; i <= kRoutines; ++i) names.push_back(Name(i));
    return names;
  }

  // Per routine: every node of its globals, and what it answers when run.
  std::map<std::string, std::string> Snapshot() {
    auto link = Link();
    std::map<std::string, std::string> state;
    for (const auto& name : Names()) {
      link->SetParam(1, name);
      Run(*link,
          "s t=\"\" f g=\"ROUTINE\",\"rOBJ\",\"rMAC\",\"rINDEX\" s "
          "r=\"^\"_g_\"(\"\"\"_P1_\"\"\")\",t=t_\"/\"_g_$D(@r)_\":\"_"
          "$G(@r) f  s r=$Q(@r) q:r=\"\"  q:$QS(r,1)'=P1  s t=t_\"|\"_r_\"=\"_@r");
      Run(*link, "s P2=$L(t)_\":\"_$ZCRC(t,7)");
      std::string& entry = state[name];
      entry = link->GetParam(2);
      Run(*link, name[0] == 'R' ? "s P2=\"\" x:$D(^rOBJ(P1)) \"s P2=$$v^\"_P1" : "s P2=$T(+0^@P1)");
      entry += " runs:" + link->GetParam(2);
    }
    return state;
  }

  fs::path Folder() const { return root_ / "install"; }

  testing::ProgramResult Cli(std::vector<std::string> args, const std::string& address) {
    args.insert(args.end(), {"--server", address, "--namespace", "USER", "--quiet"});
    return RunProgram(DORVIK_CLI_BINARY, args, Folder(),
                      {"LC_ALL=C.UTF-8", "XDG_CONFIG_HOME=" + (root_ / "config").string()});
  }

  // Updates of the backup global in the journal from byte `from` on.
  std::size_t BackupUpdates(std::uintmax_t from) const {
    std::ifstream in(journal_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);) {
      if (line.find("^DorvikBackup(") != std::string::npos) ++count;
    }
    return count;
  }
  std::uintmax_t JournalSize() const {
    std::error_code ec;
    const auto size = fs::file_size(journal_, ec);
    return ec ? 0 : size;
  }

  // One installation through the relay with `fault`, then the restart and
  // the rollback; answers the routines that differ from before.
  std::vector<std::string> RunCase(const ProbeCase& c, std::string& detail) {
    Reset();
    const auto before = Snapshot();
    if (c.secondAttempt) {
      const auto first = Cli({"--no-post-actions"}, server_->Address());
      EXPECT_EQ(first.status, 0) << first.err;
    }
    std::mutex killing;
    bool serverKilled = false;
    std::atomic<bool> struck{false};  // the fault was dealt
    const auto killServer = [&] {
      std::lock_guard lock(killing);
      struck = true;
      if (!serverKilled) server_->Kill();
      serverKilled = true;
    };
    const std::uintmax_t journalFrom = JournalSize();
    std::atomic<bool> done{false};
    std::thread watcher;
    if (c.fault == Fault::kServerAtBackupUpdate) {
      watcher = std::thread([&] {
        while (!done && BackupUpdates(journalFrom) < static_cast<std::size_t>(c.at)) {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (!done) killServer();
      });
    }
    FaultProxy proxy(server_->Port(), [&](const ProxyEvent& e) {
      if (e.number != c.at) return true;
      switch (c.fault) {
        case Fault::kServerBeforeRequest:
          if (e.kind != ProxyEvent::kRequest) return true;
          killServer();
          return false;
        case Fault::kServerAfterAnswer:
          if (e.kind != ProxyEvent::kAnswer) return true;
          killServer();
          return false;
        case Fault::kServerAtBackupUpdate:
          return true;
        case Fault::kClientAtRequest:
          if (e.kind != ProxyEvent::kRequest) return true;
          // Noted before the signal: the test reads it once the client has ended.
          if (const int cli = RunningCli()) {
            struck = true;
            ::kill(cli, SIGKILL);
          }
          return false;
        case Fault::kInterruptOnce:
        case Fault::kInterruptThrice:
          if (e.kind != ProxyEvent::kRequest) return true;
          if (const int cli = RunningCli()) {
            struck = true;
            for (int i = 0; i < (c.fault == Fault::kInterruptOnce ? 1 : 3); ++i) {
              ::kill(cli, SIGINT);
              std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
          }
          return true;
      }
      return true;
    });
    // Without post-actions, which only cost time here.
    if (c.inRollback) {
      EXPECT_EQ(Cli({"--no-post-actions"}, server_->Address()).status, 0);
    }
    const auto cut =
        Cli(c.inRollback ? std::vector<std::string>{"rollback"} : std::vector<std::string>{}, proxy.Address());
    done = true;
    if (watcher.joinable()) watcher.join();
    // The fault did strike: a killed server or client never ends in success.
    EXPECT_TRUE(struck) << FaultName(c.fault) << " " << c.at << " was not met";
    if (c.fault != Fault::kInterruptOnce && c.fault != Fault::kInterruptThrice) {
      EXPECT_NE(cut.status, 0) << FaultName(c.fault) << " " << c.at << " ended in success";
    }
    if (c.fault == Fault::kInterruptThrice && cut.status == 130) {
      EXPECT_NE(cut.err.find("прервано (Ctrl-C нажато три раза)"), std::string::npos) << cut.err;
    }
    if (std::lock_guard lock(killing); serverKilled) server_->Restart();
    const auto rollback = Cli({"rollback"}, server_->Address());
    detail = std::string(c.inRollback ? "rollback" : "install") + " exit " + std::to_string(cut.status) + ": " +
             cut.err + "\nrollback exit " + std::to_string(rollback.status) + ": " + rollback.out + rollback.err;
    std::vector<std::string> changed;
    const auto after = Snapshot();
    for (const auto& [name, snapshot] : before) {
      if (after.at(name) != snapshot) changed.push_back(name);
    }
    return changed;
  }

  // The requests of an installation without faults, and the updates its
  // backup makes.
  struct Recording {
    std::vector<std::string> requests;
    int backupFirst = 0, backupLast = 0;  // the backup step's requests, numbered from 1
    int backupUpdates = 0;
  };
  Recording Record() {
    Reset();
    const std::uintmax_t journalFrom = JournalSize();
    FaultProxy proxy(server_->Port(), [](const ProxyEvent&) { return true; });
    const auto install = Cli({}, proxy.Address());
    EXPECT_EQ(install.status, 0) << install.err;
    Recording r;
    r.requests = proxy.Requests();
    r.backupUpdates = static_cast<int>(BackupUpdates(journalFrom));
    for (std::size_t i = 0; i < r.requests.size(); ++i) {
      if (r.requests[i].find("ZS ") != std::string::npos) break;
      if (r.requests[i].find("DorvikBackup") == std::string::npos) continue;
      if (r.backupFirst == 0) r.backupFirst = static_cast<int>(i) + 1;
      r.backupLast = static_cast<int>(i) + 1;
    }
    return r;
  }

  // Runs the cases; reports each that lost or changed a routine, and the totals.
  void Probe(const std::vector<ProbeCase>& cases, const char* group) {
    int lost = 0, failedCases = 0;
    for (const auto& c : cases) {
      std::string detail;
      const auto changed = RunCase(c, detail);
      if (changed.empty()) continue;
      ++failedCases;
      lost += static_cast<int>(changed.size());
      ADD_FAILURE() << FaultName(c.fault) << " " << c.at << (c.secondAttempt ? " (second attempt)" : "") << ": "
                    << changed.size() << " routines lost or changed, first " << changed.front() << "\n"
                    << detail;
    }
    std::cout << "[probe] " << group << ": cases " << cases.size() << ", cases with a routine lost or changed "
              << failedCases << ", routines lost or changed " << lost << std::endl;
  }

  fs::path root_;
  fs::path journal_;
  std::unique_ptr<MServerProcess> server_;
};

TEST_F(RollbackProbeTest, ServerKilledInsideTheBackupStep) {
  const Recording r = Record();
  ASSERT_GT(r.backupFirst, 0);
  ASSERT_GT(r.backupUpdates, 20);
  std::vector<ProbeCase> cases;
  for (int n = r.backupFirst; n <= r.backupLast + 1; ++n) {
    cases.push_back({Fault::kServerBeforeRequest, n, false});
    cases.push_back({Fault::kServerAfterAnswer, n, false});
  }
  // Between the updates of one copying line: twelve points spread over it.
  for (int k = 1; k <= 12; ++k) cases.push_back({Fault::kServerAtBackupUpdate, r.backupUpdates * k / 13, false});
  // After an installation that went well, the second one is cut in its backup.
  cases.push_back({Fault::kServerAtBackupUpdate, r.backupUpdates / 2, true});
  cases.push_back({Fault::kServerBeforeRequest, r.backupLast, true});
  Probe(cases, "server killed inside the backup step");
}

TEST_F(RollbackProbeTest, ServerKilledLaterInTheInstallation) {
  const Recording r = Record();
  const int total = static_cast<int>(r.requests.size());
  ASSERT_GT(total, r.backupLast + 10);
  std::vector<ProbeCase> cases;
  for (int i = 1; i <= 8; ++i) {
    const int n = r.backupLast + 1 + (total - r.backupLast - 1) * i / 9;
    cases.push_back({i % 2 ? Fault::kServerBeforeRequest : Fault::kServerAfterAnswer, n, false});
  }
  Probe(cases, "server killed after the backup step");
}

// A rollback cut short by a kill is run again and ends where a whole one does.
TEST_F(RollbackProbeTest, RollbackKilledAndRunAgain) {
  Record();
  std::vector<ProbeCase> cases;
  // The rollback asks for the sets (three calls for one set), then one call per routine.
  for (const int n : {2, 4, 5, 20, 40, 64}) cases.push_back({Fault::kServerBeforeRequest, n, false, true});
  for (const int n : {5, 33}) cases.push_back({Fault::kServerAfterAnswer, n, false, true});
  for (const int n : {6, 50}) cases.push_back({Fault::kClientAtRequest, n, false, true});
  Probe(cases, "rollback killed and run again");
}

TEST_F(RollbackProbeTest, ClientKilledOrInterrupted) {
  const Recording r = Record();
  const int total = static_cast<int>(r.requests.size());
  std::vector<int> points;
  for (int n = r.backupFirst; n <= r.backupLast + 1; ++n) points.push_back(n);
  for (int i = 1; i <= 3; ++i) points.push_back(r.backupLast + 1 + (total - r.backupLast - 1) * i / 4);
  std::vector<ProbeCase> cases;
  for (const int n : points) {
    cases.push_back({Fault::kClientAtRequest, n, false});
    cases.push_back({Fault::kInterruptOnce, n, false});
    cases.push_back({Fault::kInterruptThrice, n, false});
  }
  cases.push_back({Fault::kClientAtRequest, r.backupLast, true});
  cases.push_back({Fault::kInterruptThrice, r.backupLast, true});
  Probe(cases, "client killed or interrupted");
}

}  // namespace
}  // namespace dorvik
