// dorvik-cli plan, verify, backup and rollback against a real mserver: a
// 50-routine distribution over a namespace that already holds 20 of its
// routines in older versions (10 with source, 10 without). After a failed
// installation (server restarted midway, damaged record, Ctrl-C) the
// namespace must be back, routine by routine, as it was before.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "fault_proxy.h"
#include "link/tcp_link.h"
#include "mserver_process.h"
#include "run_program.h"

namespace dorvik {
namespace {

namespace fs = std::filesystem;
using testing::MServerProcess;
using testing::RunProgram;

constexpr int kRoutines = 50;
constexpr int kOldRoutines = 20;    // R1..R20 are on the server before
constexpr int kOldWithSource = 10;  // R1..R10 keep their source
// With --chunk-limit 1 each line is one call: the restore lasts long enough
// to stop the server, or press Ctrl-C, while it runs.
constexpr int kLinesPerRoutine = 150;

using testing::ReadFile;
using testing::WriteFile;

std::string Name(int i) { return "R" + std::to_string(i); }

// The new version: "v" answers "new"; "go" is a post-action that succeeds,
// "bad" one that fails.
std::string NewText(int i) {
  std::string text = Name(i) + " ;new\n Q\nv() q \"new\"\ngo() q \"\"\nbad() q \"no\"\n";
  for (int l = 5; l < kLinesPerRoutine; ++l) text += "l" + std::to_string(l) + " s x=" + std::to_string(l) + " q\n";
  return text;
}

// What one routine is on the server: its source nodes, its object and what
// it answers when run.
struct RoutineSnapshot {
  std::string stored;
  std::string runs;
  bool operator==(const RoutineSnapshot&) const = default;
};

void PrintTo(const RoutineSnapshot& r, std::ostream* out) { *out << r.stored.substr(0, 60) << " runs " << r.runs; }

class SafeInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("dorvik-safe-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    fs::create_directories(root_ / "pack");
    fs::create_directories(root_ / "install");
    fs::create_directories(root_ / "config");
    journal_ = root_ / "journal.txt";
    server_ =
        std::make_unique<MServerProcess>(MSERVER_BINARY, std::vector<std::string>{"--journal", journal_.string()});
  }
  void TearDown() override {
    server_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void Pack(const std::string& postAction = "go^R1") {
    std::string routines;
    for (int i = 1; i <= kRoutines; ++i) {
      WriteFile(root_ / "pack" / (Name(i) + ".int"), NewText(i));
      routines += (i > 1 ? ", \"" : "\"") + Name(i) + ".int\"";
    }
    WriteFile(root_ / "pack" / "VMCHK.int", "VMCHK ;\n Q\nchk() h $g(^VMCHK(\"wait\")) q \"\"\n");
    WriteFile(root_ / "pack" / "manifest.json",
              R"({"product": "Склад", "version": "4.0", "build_date": "08.12.2026", "password": "pw",
                  "check_label": "chk^VMCHK", "check_routines": ["VMCHK.int"],
                  "post_actions": [{"description": "Настройка", "label": ")" +
                  postAction + R"("}], "routines": [)" + routines + "]}");
    const auto packed = RunProgram(
        DORPACK_BINARY, {"build", "manifest.json", "-o", (Folder() / "dorpack.dat").string()}, root_ / "pack");
    ASSERT_EQ(packed.status, 0) << packed.err;
  }

  // Replaces the name line of routine `name` in the packed file with an
  // invalid name, as a damaged record.
  void DamageRecord(const std::string& name) { Damage(name + "\n", "!"); }

  // Replaces the first byte of the packed text `plain` with `by`, and drops
  // the integrity marker.
  void Damage(const std::string& plain, const std::string& by) {
    std::string data = ReadFile(Folder() / "dorpack.dat");
    const auto key = static_cast<std::uint8_t>(data.at(1));
    const auto encode = [&](std::string plain) {
      for (char& c : plain) c = static_cast<char>(EncodeByte(static_cast<std::uint8_t>(c), key));
      return plain;
    };
    const auto at = data.find(encode(plain));
    ASSERT_NE(at, std::string::npos);
    data[at] = encode(by)[0];
    // Without its integrity marker, as another packer writes the file: the
    // header is read and the damage is found only when the restore reaches
    // the record (with the marker the file is refused before anything runs).
    const auto marker = data.find(encode("VMSEAL:"));
    if (marker != std::string::npos) data.erase(marker, data.find(encode("\r"), marker) - marker);
    WriteFile(Folder() / "dorpack.dat", data);
  }

  // R1..R20 in an older version; R11..R20 without source.
  void InstallOldVersions() {
    auto link = Link();
    for (int i = 1; i <= kOldRoutines; ++i) {
      link->ClearError();
      link->RunCode("ZR  ZI \"" + Name(i) + " ;old\" ZI \" Q\" ZI \"v() q \"\"old\"\"\" ZS " + Name(i));
      ASSERT_EQ(link->ErrorCode(), 0) << link->ErrorText();
      if (i > kOldWithSource) {
        link->SetParam(1, Name(i));
        link->RunCode("k ^ROUTINE(P1)");
        ASSERT_EQ(link->ErrorCode(), 0) << link->ErrorText();
      }
    }
  }

  std::unique_ptr<TcpLink> Link() {
    auto link = std::make_unique<TcpLink>();
    link->SetServer(BuildServerString("127.0.0.1", std::to_string(server_->Port())));
    link->SetNamespace("USER");
    return link;
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names = {"VMCHK", "dorvik"};
    for (int i = 1; i <= kRoutines; ++i) names.push_back(Name(i));
    return names;
  }

  std::map<std::string, RoutineSnapshot> Snapshot() {
    auto link = Link();
    std::map<std::string, RoutineSnapshot> state;
    for (const auto& name : Names()) {
      link->ClearError();
      link->SetParam(1, name);
      link->RunCode(
          "s P2=$D(^ROUTINE(P1))_\"|\"_$G(^ROUTINE(P1,0))_\"|\"_$D(^rOBJ(P1))_\"|\"_$ZCRC($G(^rOBJ(P1)),7)_\"|\"_"
          "$D(^rMAC(P1)) f i=1:1:$G(^ROUTINE(P1,0,0)) s P2=P2_\"|\"_^ROUTINE(P1,0,i)");
      EXPECT_EQ(link->ErrorCode(), 0) << link->ErrorText();
      RoutineSnapshot& r = state[name];
      r.stored = link->GetParam(2);
      // The distribution's routines answer their version; the others their name.
      link->RunCode(name[0] == 'R' ? "s P2=\"\" x:$D(^rOBJ(P1)) \"s P2=$$v^\"_P1" : "s P2=$T(+0^@P1)");
      EXPECT_EQ(link->ErrorCode(), 0) << name << ": " << link->ErrorText();
      r.runs = link->GetParam(2);
    }
    return state;
  }

  void ExpectSameState(const std::map<std::string, RoutineSnapshot>& before) {
    const auto after = Snapshot();
    for (const auto& [name, snapshot] : before) {
      EXPECT_EQ(after.at(name).stored, snapshot.stored) << name;
      EXPECT_EQ(after.at(name).runs, snapshot.runs) << name;
    }
  }

  fs::path Folder() const { return root_ / "install"; }

  // Waits (up to a minute) for a request holding `text` in the server's transcript.
  bool WaitForTranscript(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      for (const auto& line : server_->TranscriptLines()) {
        if (line.find(text) != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  // The process id of the dorvik-cli this test started, or 0: a child of
  // this process by that name.
  static int RunningCli() {
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string stat = ReadFile(entry.path() / "stat");
      // "pid (comm) state ppid ..."
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

  testing::ProgramResult Cli(std::vector<std::string> args, int interruptAfterMs = 0) {
    args.insert(args.end(), {"--server", server_->Address(), "--namespace", "USER", "--quiet"});
    return RunProgram(DORVIK_CLI_BINARY, args, Folder(),
                      {"LC_ALL=C.UTF-8", "XDG_CONFIG_HOME=" + (root_ / "config").string()}, interruptAfterMs);
  }

  // An installation whose dorvik-cli is killed when it asks the server to
  // close the backup set: every copy is made, the set is not complete.
  testing::ProgramResult InstallCutBeforeTheBackupCloses() {
    testing::FaultProxy proxy(server_->Port(), [](const testing::ProxyEvent& e) {
      if (e.kind != testing::ProxyEvent::kRequest || e.code.find("%dvM=%dvM+1") == std::string::npos) return true;
      if (const int cli = RunningCli()) ::kill(cli, SIGKILL);
      return false;
    });
    return RunProgram(DORVIK_CLI_BINARY, {"--server", proxy.Address(), "--namespace", "USER", "--quiet"}, Folder(),
                      {"LC_ALL=C.UTF-8", "XDG_CONFIG_HOME=" + (root_ / "config").string()});
  }

  // Runs M code on the server; answers P2.
  std::string Server(const std::string& code, const std::string& p1 = "") {
    auto link = Link();
    link->SetParam(1, p1);
    link->ClearError();
    link->RunCode(code);
    EXPECT_EQ(link->ErrorCode(), 0) << code << ": " << link->ErrorText();
    return link->GetParam(2);
  }

  std::string Log() const { return Cp1251ToUtf8(ReadFile(Folder() / "dorvik.txt")); }

  std::size_t JournalLines() const {
    const std::string text = ReadFile(journal_);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  fs::path root_;
  fs::path journal_;
  std::unique_ptr<MServerProcess> server_;
};

TEST_F(SafeInstallTest, PlanTellsEachRoutinesStateAndChangesNothing) {
  Pack();
  InstallOldVersions();
  const auto before = Snapshot();
  const std::size_t journalBefore = JournalLines();
  ASSERT_GT(journalBefore, 0u);  // the journal does record updates

  const auto json = Cli({"plan", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto text = Cli({"plan"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(JournalLines(), journalBefore) << "plan updated a global";
  ExpectSameState(before);

  const auto doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["namespace"], "USER");
  EXPECT_EQ(doc["product"], "Склад");
  EXPECT_EQ(doc["check_label"], "chk^VMCHK");
  ASSERT_EQ(doc["check_routines"].size(), 1u);
  EXPECT_EQ(doc["check_routines"][0]["state"], "new");
  ASSERT_EQ(doc["routines"].size(), static_cast<std::size_t>(kRoutines));
  // Old: "Rn ;old", " Q", "v() q ""old""". New: the name line and the "v"
  // line differ, " Q" stays, and the other lines are added.
  EXPECT_EQ(doc["routines"][0]["name"], "R1");
  EXPECT_EQ(doc["routines"][0]["state"], "changed");
  EXPECT_EQ(doc["routines"][0]["lines_added"], kLinesPerRoutine - 1);
  EXPECT_EQ(doc["routines"][0]["lines_removed"], 2);
  EXPECT_EQ(doc["routines"][14]["state"], "without_source");
  EXPECT_EQ(doc["routines"][20]["state"], "new");
  EXPECT_EQ(doc["totals"]["new"], kRoutines - kOldRoutines);
  EXPECT_EQ(doc["totals"]["changed"], kOldWithSource);
  EXPECT_EQ(doc["totals"]["without_source"], kOldRoutines - kOldWithSource);
  EXPECT_EQ(doc["totals"]["unchanged"], 0);
  ASSERT_EQ(doc["post_actions"].size(), 1u);
  EXPECT_EQ(doc["post_actions"][0]["description"], "Настройка");
  EXPECT_EQ(doc["post_actions"][0]["label"], "go^R1");

  EXPECT_NE(text.out.find("R1           изменена: +" + std::to_string(kLinesPerRoutine - 1) + " -2"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("R15          есть без исходника"), std::string::npos);
  EXPECT_NE(text.out.find("Итого программ: 50; новых 30, без изменений 0, изменено 10, без исходника 10."),
            std::string::npos);

  // Once installed with sources kept, the server's sums equal the ones
  // computed here: every routine is unchanged.
  ASSERT_EQ(Cli({"--keep-sources", "--password", "pw"}).status, 0);
  const auto again = nlohmann::json::parse(Cli({"plan", "--json"}).out);
  EXPECT_EQ(again["totals"]["unchanged"], kRoutines);
}

TEST_F(SafeInstallTest, VerifyComparesTextWithSourceAndPresenceWithout) {
  Pack();
  auto run = Cli({"--keep-sources", "--password", "pw", "--verify"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(Log().find("Проверка программ: 51, не совпадают 0."), std::string::npos);
  EXPECT_EQ(Cli({"verify"}).status, 0);

  // One routine changed behind the installer's back, one removed.
  auto link = Link();
  link->RunCode("ZR  ZI \"R7 ;other\" ZI \" Q\" ZS R7");
  link->RunCode("k ^ROUTINE(\"R9\"),^rOBJ(\"R9\")");
  ASSERT_EQ(link->ErrorCode(), 0);
  auto verify = Cli({"verify"});
  EXPECT_EQ(verify.status, 1);
  EXPECT_NE(verify.out.find("R7           изменена: +" + std::to_string(kLinesPerRoutine - 1) + " -1"),
            std::string::npos)
      << verify.out;
  EXPECT_NE(verify.out.find("R9           новая"), std::string::npos);
  EXPECT_EQ(verify.out.find("R8 "), std::string::npos);
  EXPECT_NE(verify.out.find("не совпадают 2."), std::string::npos);

  // Installed without sources: only presence and loading can be checked.
  ASSERT_EQ(Cli({}).status, 0);
  auto without = Cli({"verify"});
  EXPECT_EQ(without.status, 0) << without.out;
  EXPECT_NE(without.out.find("проверено только наличие и загрузка: 51"), std::string::npos) << without.out;
}

TEST_F(SafeInstallTest, RollbackAfterTheServerWasRestartedMidway) {
  Pack();
  InstallOldVersions();
  const auto before = Snapshot();

  // The automatic rollback cannot reach the stopped server: it says how to
  // roll back later.
  auto install = std::async(std::launch::async, [&] { return Cli({"--chunk-limit", "1", "--rollback-on-failure"}); });
  ASSERT_TRUE(WaitForTranscript("ZS R30"));
  server_->Kill();
  const auto failed = install.get();
  server_->Restart();
  EXPECT_EQ(failed.status, 1) << failed.err;
  EXPECT_NE(failed.err.find("Откат не выполнен"), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("dorvik-cli rollback --backup 1"), std::string::npos) << failed.err;
  // Routines past the stop were not stored; some before it were.
  EXPECT_EQ(Snapshot().at("R50").runs, "");
  EXPECT_EQ(Snapshot().at("R1").runs, "new");

  // The copies of the 52 routines (the post-action routine included) took
  // one call, before the first routine was stored.
  const auto transcript = server_->TranscriptLines();
  const auto copies = [](const std::string& line) {
    return line.find("^DorvikBackup(P2,\"r\",%dvN,\"ROUTINE\")=^ROUTINE(%dvN)") != std::string::npos;
  };
  const auto backup = std::find_if(transcript.begin(), transcript.end(), copies);
  ASSERT_NE(backup, transcript.end());
  EXPECT_EQ(std::count_if(backup + 1, transcript.end(), copies), 0);
  const auto firstSave = std::find_if(transcript.begin(), transcript.end(), [](const std::string& line) {
    return line.find("ZS VMCHK") != std::string::npos;
  });
  EXPECT_LT(backup - transcript.begin(), firstSave - transcript.begin());

  auto rollback = Cli({"rollback"});
  ASSERT_EQ(rollback.status, 0) << rollback.err;
  // The new routines stored before the stop are removed; those never stored
  // are counted apart: each count is what was done.
  const std::string counts = "Программы возвращены: 52 (восстановлено 20, удалено новых ";
  const auto at = rollback.out.find(counts);
  ASSERT_NE(at, std::string::npos) << rollback.out;
  const int removed = std::stoi(rollback.out.substr(at + counts.size()));
  const std::string absent = ", новых, которых не было на сервере, " + std::to_string(32 - removed) + ").";
  EXPECT_NE(rollback.out.find(absent, at), std::string::npos) << rollback.out;
  EXPECT_GE(removed, 10) << "VMCHK and R21..R29 were stored before the stop";
  EXPECT_NE(rollback.out.find("последействиями"), std::string::npos);
  ExpectSameState(before);

  auto list = Cli({"backups"});
  EXPECT_NE(list.out.find("откат выполнен"), std::string::npos) << list.out;
}

TEST_F(SafeInstallTest, DamagedRecordRollsBackByItself) {
  Pack();
  DamageRecord("R40");
  InstallOldVersions();
  const auto before = Snapshot();

  auto run = Cli({"--rollback-on-failure"});
  EXPECT_EQ(run.status, 4) << "a damaged data file keeps its own status after the rollback";
  EXPECT_NE(run.err.find("Файл данных испорчен"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Откат выполнен: программ возвращено 51."), std::string::npos) << run.err;
  const std::string log = Log();
  EXPECT_NE(log.find("Файл данных испорчен"), std::string::npos);
  EXPECT_NE(log.find("Установка не удалась: откат к резервной копии 1."), std::string::npos);
  EXPECT_NE(log.find("Откат выполнен: программ возвращено 51."), std::string::npos);
  ExpectSameState(before);
}

TEST_F(SafeInstallTest, CtrlCAnsweredYesRollsBackByItself) {
  Pack();
  InstallOldVersions();
  const auto before = Snapshot();

  // Ctrl-C once routine 25 has been stored; without a terminal the
  // installer takes it as "yes, stop".
  auto install = std::async(std::launch::async, [&] { return Cli({"--rollback-on-failure", "--chunk-limit", "1"}); });
  ASSERT_TRUE(WaitForTranscript("ZS R25"));  // past the old versions saved above
  const int cli = RunningCli();
  ASSERT_GT(cli, 0);
  ::kill(cli, SIGINT);
  const auto run = install.get();
  EXPECT_EQ(run.status, 1) << run.err;
  const std::string log = Log();
  EXPECT_NE(log.find("Установка прервана пользователем."), std::string::npos) << log;
  EXPECT_NE(log.find("Откат выполнен: программ возвращено 52."), std::string::npos) << log;
  EXPECT_NE(run.err.find("Откат выполнен"), std::string::npos);
  ExpectSameState(before);
}

TEST_F(SafeInstallTest, FailedPostActionRollsBackTheRoutines) {
  Pack("bad^R1");
  InstallOldVersions();
  const auto before = Snapshot();

  auto run = Cli({"--rollback-on-failure"});
  EXPECT_EQ(run.status, 1);
  const std::string log = Log();
  EXPECT_NE(log.find("Неуспех. no"), std::string::npos) << log;
  EXPECT_NE(log.find("Откат выполнен: программ возвращено 52."), std::string::npos) << log;
  EXPECT_NE(run.err.find("данные, измененные последействиями, он не восстанавливает"), std::string::npos);
  ExpectSameState(before);
}

TEST_F(SafeInstallTest, BackupSetsAreListedDroppedAndSkippedOnRequest) {
  Pack();
  InstallOldVersions();
  ASSERT_EQ(Cli({}).status, 0);
  ASSERT_EQ(Cli({"--no-backup"}).status, 0);
  const auto beforeThird = Snapshot();
  ASSERT_EQ(Cli({}).status, 0);
  auto list = Cli({"backups"});
  ASSERT_EQ(list.status, 0);
  EXPECT_EQ(list.out.rfind("1  ", 0), 0u);
  EXPECT_NE(list.out.find("\n2  "), std::string::npos);
  EXPECT_EQ(list.out.find("\n3  "), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("Склад 4.0 (08.12.2026)  USER  программ 52, было до установки 20  установка выполнена"),
            std::string::npos)
      << list.out;
  // Set 2 was taken before the third installation: rolling it back leaves
  // the namespace as the second one left it (save times included).
  ASSERT_EQ(Cli({"rollback", "--backup", "2"}).status, 0);
  ExpectSameState(beforeThird);

  EXPECT_EQ(Cli({"backups", "--drop", "1"}).status, 0);
  EXPECT_EQ(Cli({"backups", "--drop", "1"}).status, 1);
  EXPECT_EQ(Cli({"rollback", "--backup", "1"}).status, 1);
  list = Cli({"backups"});
  EXPECT_EQ(list.out.rfind("2  ", 0), 0u) << list.out;

  // Options of one command are refused elsewhere.
  EXPECT_EQ(Cli({"verify", "--if-changed"}).status, 2);
  EXPECT_EQ(Cli({"verify", "--drop", "2"}).status, 2);
  EXPECT_EQ(Cli({"--rollback-on-failure", "--no-backup"}).status, 2);
  EXPECT_EQ(Cli({"rollback", "--backup", "x1"}).status, 2);
}

// A backup cut short leaves an interrupted set: listed with what it holds,
// said by the next installation, never taken by a plain rollback, dropped
// only when the user says so.
TEST_F(SafeInstallTest, InterruptedBackupIsSaidAndNeverTakenUnnamed) {
  Pack();
  InstallOldVersions();
  const auto beforeFirst = Snapshot();
  ASSERT_EQ(Cli({}).status, 0);
  const auto cut = InstallCutBeforeTheBackupCloses();
  EXPECT_EQ(cut.status, 128 + SIGKILL) << cut.err;
  EXPECT_EQ(Server("s P2=$G(^DorvikBackup(2,\"state\"))_$G(^DorvikBackup(2,\"complete\"))"), "open");

  auto list = Cli({"backups"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("USER  программ 52, было до установки 20  установка выполнена"), std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("USER  целых копий программ 52 из 52, было до установки 52  копия прервана, неполна"),
            std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find(") прервана: целые копии у 52 программ из 52 (из них были в области до установки 52)."),
            std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("удалить ее: dorvik-cli backups --drop 2"), std::string::npos) << list.out;

  // The plain rollback takes set 1, the last complete one, and names it:
  // the first installation is undone.
  const auto rollback = Cli({"rollback"});
  ASSERT_EQ(rollback.status, 0) << rollback.err;
  EXPECT_NE(rollback.out.find("Откат к резервной копии 1  "), std::string::npos) << rollback.out;
  EXPECT_NE(rollback.out.find("Программы возвращены: 52 (восстановлено 20, удалено новых 32, новых, которых не было "
                              "на сервере, 0)."),
            std::string::npos)
      << rollback.out;
  ExpectSameState(beforeFirst);

  // The next installation says so; set 2 stays until it is dropped.
  const auto next = Cli({});
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_NE(next.err.find("Резервная копия 2 ("), std::string::npos) << next.err;
  // The protocol of this third installation is the file it printed.
  std::string logPath = next.out;
  while (!logPath.empty() && (logPath.back() == '\n' || logPath.back() == '\r')) logPath.pop_back();
  EXPECT_NE(Cp1251ToUtf8(ReadFile(logPath)).find("прервана: целые копии у 52 программ из 52"), std::string::npos)
      << logPath;
  EXPECT_EQ(Cli({"backups", "--drop", "2"}).status, 0);
  EXPECT_EQ(Cli({"backups"}).out.find("прервана"), std::string::npos);
}

// A named interrupted set puts back only the routines whose copy is whole
// and lists the rest; sets written by the earlier layout (record before
// copies, no "format") are read by their state. Each row reshapes a
// complete set on the server as an interrupted backup would have left it.
TEST_F(SafeInstallTest, RollbackOfAnInterruptedSetTouchesOnlyWholeCopies) {
  struct Case {
    const char* what;
    const char* reshape;  // M code on set P1
    const char* counts;   // the rollback's count line
    const char* skipped;  // "" when none
    int status;
    std::vector<std::string> untouched;  // routines the rollback must leave as installed
  };
  std::vector<std::string> oldRoutines;
  for (int i = 1; i <= kOldRoutines; ++i) oldRoutines.push_back(Name(i));
  const std::vector<Case> cases = {
      {"this layout, two routines never copied",
       "k ^DorvikBackup(P1,\"complete\"),^DorvikBackup(P1,\"r\",\"R1\"),^DorvikBackup(P1,\"r\",\"R25\") "
       "s ^DorvikBackup(P1,\"state\")=\"open\"",
       "Программы возвращены: 50 (восстановлено 19, удалено новых 31, новых, которых не было на сервере, 0).",
       "Не тронуты, нет целой копии: 2: R1, R25",
       1,
       {"R1", "R25"}},
      {"this layout, copies left without their record",
       "k ^DorvikBackup(P1,\"complete\") s ^DorvikBackup(P1,\"state\")=\"open\" "
       "k ^DorvikBackup(P1,\"r\",\"R12\") s ^DorvikBackup(P1,\"r\",\"R12\",\"rOBJ\")=\"part\"",
       "Программы возвращены: 51 (восстановлено 19, удалено новых 32, новых, которых не было на сервере, 0).",
       "Не тронуты, нет целой копии: 1: R12",
       1,
       {"R12"}},
      {"earlier layout, open: only records of new routines are trusted",
       "k ^DorvikBackup(P1,\"complete\"),^DorvikBackup(P1,\"format\"),^DorvikBackup(P1,\"planned\"),"
       "^DorvikBackup(P1,\"p\") s ^DorvikBackup(P1,\"state\")=\"open\"",
       "Программы возвращены: 32 (восстановлено 0, удалено новых 32, новых, которых не было на сервере, 0).",
       "Не тронуты, нет целой копии: 20: R1, R10, R11", 1, oldRoutines},
      {"earlier layout, installed: complete",
       "k ^DorvikBackup(P1,\"complete\"),^DorvikBackup(P1,\"format\"),^DorvikBackup(P1,\"planned\"),"
       "^DorvikBackup(P1,\"p\")",
       "Программы возвращены: 52 (восстановлено 20, удалено новых 32, новых, которых не было на сервере, 0).",
       "",
       0,
       {}},
  };
  Pack();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Server("k ^ROUTINE,^rOBJ,^rMAC,^DorvikBackup");
    InstallOldVersions();
    const auto before = Snapshot();
    ASSERT_EQ(Cli({}).status, 0);
    const auto installed = Snapshot();
    Server(c.reshape, "1");
    // Never taken unnamed when interrupted.
    if (c.status != 0) {
      EXPECT_EQ(Cli({"rollback"}).status, 1);
    }
    EXPECT_EQ(Snapshot(), installed);

    const auto rollback = Cli({"rollback", "--backup", "1"});
    EXPECT_EQ(rollback.status, c.status) << rollback.out << rollback.err;
    EXPECT_NE(rollback.out.find(c.counts), std::string::npos) << rollback.out;
    if (*c.skipped) {
      EXPECT_NE(rollback.out.find(c.skipped), std::string::npos) << rollback.out;
    } else {
      EXPECT_EQ(rollback.out.find("Не тронуты"), std::string::npos) << rollback.out;
    }
    const auto after = Snapshot();
    for (const auto& [name, snapshot] : before) {
      const bool untouched = std::find(c.untouched.begin(), c.untouched.end(), name) != c.untouched.end();
      EXPECT_EQ(after.at(name), untouched ? installed.at(name) : snapshot) << name;
    }
  }
}

// A post-action list the check stage would call a structure fault is said
// in its words when the backup's read of the whole file finds it first, and
// nothing reaches the server.
TEST_F(SafeInstallTest, StructureFaultFoundByTheBackupIsSaidAsTheCheckStageSaysIt) {
  Pack();
  Damage("#go^R1", "_");
  const auto run = Cli({});
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.err.find("Ошибка в структуре дистрибутива"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Файл данных испорчен"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Резервная копия 1"), std::string::npos) << run.err;
  const std::string log = Log();
  EXPECT_NE(log.find("Ошибка в структуре дистрибутива: "), std::string::npos) << log;
  EXPECT_NE(log.find("Резервная копия не сделана, установка не выполнялась."), std::string::npos) << log;
  EXPECT_EQ(Server("s P2=$D(^DorvikBackup)_$D(^rOBJ(\"VMCHK\"))"), "00");
}

}  // namespace
}  // namespace dorvik
