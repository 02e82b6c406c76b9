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
  void DamageRecord(const std::string& name) {
    std::string data = ReadFile(Folder() / "dorpack.dat");
    const auto key = static_cast<std::uint8_t>(data.at(1));
    const auto encode = [&](std::string plain) {
      for (char& c : plain) c = static_cast<char>(EncodeByte(static_cast<std::uint8_t>(c), key));
      return plain;
    };
    const std::string nameLine = encode(name + "\n");
    const auto at = data.find(nameLine);
    ASSERT_NE(at, std::string::npos);
    data[at] = encode("!")[0];
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
  EXPECT_EQ(Cli({"--json"}).status, 2);
  EXPECT_EQ(Cli({"verify", "--drop", "2"}).status, 2);
  EXPECT_EQ(Cli({"--rollback-on-failure", "--no-backup"}).status, 2);
  EXPECT_EQ(Cli({"rollback", "--backup", "x1"}).status, 2);
}

}  // namespace
}  // namespace dorvik
