// dorvik-cli for programs that drive it: --if-changed against the record of
// installed distributions, the JSON documents of install, verify, rollback,
// backups and history, and the failures those documents report. Against a
// real mserver, with distributions packed by dorpack.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <random>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "link/tcp_link.h"
#include "mserver_process.h"
#include "run_program.h"

namespace dorvik {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::MServerProcess;
using testing::ReadFile;
using testing::RunProgram;
using testing::WriteFile;

constexpr int kRoutines = 3;

class FleetCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("dorvik-fleet-cli-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    fs::create_directories(Folder());
    journal_ = root_ / "journal.txt";
    server_ =
        std::make_unique<MServerProcess>(MSERVER_BINARY, std::vector<std::string>{"--journal", journal_.string()});
  }
  void TearDown() override {
    server_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Packs version `version` (its routines answer it from v()) into the
  // install folder; `postAction` is its one post-action.
  void Pack(const std::string& version, const std::string& postAction = "go^R1") {
    const fs::path source = root_ / ("pack-" + version);
    fs::create_directories(source);
    std::string routines;
    for (int i = 1; i <= kRoutines; ++i) {
      const std::string name = "R" + std::to_string(i);
      WriteFile(source / (name + ".int"),
                name + " ;" + version + "\n Q\nv() q \"" + version + "\"\ngo() q \"\"\nbad() q \"no\"\n");
      routines += (i > 1 ? ", \"" : "\"") + name + ".int\"";
    }
    WriteFile(source / "manifest.json", R"({"product": "Склад", "version": ")" + version +
                                            R"(", "build_date": "09.12.2026", "password": "pw",
                  "post_actions": [{"description": "Настройка", "label": ")" +
                                            postAction + R"("}], "routines": [)" + routines + "]}");
    const auto packed =
        RunProgram(DORPACK_BINARY, {"build", "manifest.json", "-o", (Folder() / "dorpack.dat").string()}, source);
    ASSERT_EQ(packed.status, 0) << packed.err;
  }

  fs::path Folder() const { return root_ / "install"; }

  testing::ProgramResult Cli(std::vector<std::string> args) {
    args.insert(args.end(), {"--server", server_->Address()});
    if (std::find(args.begin(), args.end(), "--namespace") == args.end()) {
      args.insert(args.end(), {"--namespace", "USER"});
    }
    return RunProgram(DORVIK_CLI_BINARY, args, Folder(),
                      {"LC_ALL=C.UTF-8", "XDG_CONFIG_HOME=" + (root_ / "config").string()});
  }

  // Runs a command with --json: the whole standard output must be one
  // JSON document.
  json Json(std::vector<std::string> args, int expectedStatus = 0) {
    args.push_back("--json");
    const auto run = Cli(args);
    EXPECT_EQ(run.status, expectedStatus) << run.err;
    try {
      return json::parse(run.out);
    } catch (const json::exception& e) {
      ADD_FAILURE() << "not one JSON document: " << e.what() << "\n" << run.out;
      return json::object();
    }
  }

  std::unique_ptr<TcpLink> Link() {
    auto link = std::make_unique<TcpLink>();
    link->SetServer(BuildServerString("127.0.0.1", std::to_string(server_->Port())));
    link->SetNamespace("USER");
    return link;
  }

  std::string Runs(const std::string& routine) {
    auto link = Link();
    link->SetParam(1, routine);
    link->RunCode("s P2=\"\" x:$D(^rOBJ(P1)) \"s P2=$$v^\"_P1");
    EXPECT_EQ(link->ErrorCode(), 0) << link->ErrorText();
    return link->GetParam(2);
  }

  int InstallLogs() const {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(Folder())) {
      if (entry.path().filename().string().rfind("dorvik", 0) == 0 && entry.path().extension() == ".txt") ++count;
    }
    return count;
  }

  std::size_t JournalLines() const {
    const std::string text = ReadFile(journal_);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  fs::path root_;
  fs::path journal_;
  std::unique_ptr<MServerProcess> server_;
};

// One step of a namespace's life: what is done before --if-changed runs,
// with which distribution, and whether it installs.
struct IfChangedStep {
  const char* what;
  const char* version;  // packed before the step
  const char* before;   // "", or a dorvik-cli command run first
  const char* tamper;   // "", or M code run on the server first
  bool installs;
  const char* runsAfter;  // what R2 answers after the step
};

TEST_F(FleetCliTest, IfChangedInstallsOnlyWhatTheNamespaceDoesNotHold) {
  const IfChangedStep steps[] = {
      {"an empty namespace", "1.0", "", "", true, "1.0"},
      {"the same distribution again", "1.0", "", "", false, "1.0"},
      {"a routine replaced behind the installer's back", "1.0", "", "ZR  ZI \"R2 ;x\" ZI \"v() q \"\"x\"\"\" ZS R2",
       true, "1.0"},
      {"a routine removed", "1.0", "", "k ^ROUTINE(\"R3\"),^rOBJ(\"R3\")", true, "1.0"},
      {"a newer distribution", "2.0", "", "", true, "2.0"},
      {"the older one after the newer was rolled back", "1.0", "rollback", "", false, "1.0"},
      {"the newer one after it was rolled back", "2.0", "", "", true, "2.0"},
      {"a plain installation of the same does install", "2.0", "force", "", true, "2.0"},
  };
  int records = 0;
  std::string packed;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    // Packed once per version: the same version is the same bytes.
    if (packed != step.version) Pack(step.version);
    packed = step.version;
    if (std::string(step.before) == "rollback") {
      ASSERT_EQ(Cli({"rollback"}).status, 0);
    }
    if (*step.tamper != '\0') {
      auto link = Link();
      link->RunCode(step.tamper);
      ASSERT_EQ(link->ErrorCode(), 0) << link->ErrorText();
    }
    const int logs = InstallLogs();
    const std::size_t journal = JournalLines();
    std::vector<std::string> args;
    if (std::string(step.before) != "force") args.push_back("--if-changed");
    const json doc = Json(args);
    EXPECT_EQ(doc["changed"], step.installs);
    EXPECT_EQ(doc["status"], 0);
    EXPECT_EQ(doc["post_actions"]["run"], step.installs);
    EXPECT_EQ(InstallLogs(), logs + (step.installs ? 1 : 0));
    EXPECT_EQ(doc["log_path"].is_string(), step.installs);
    if (step.installs) {
      EXPECT_EQ(doc["record"], std::to_string(++records));
    } else {
      EXPECT_TRUE(doc["record"].is_null());
      EXPECT_TRUE(doc["backup"].is_null());
      EXPECT_EQ(JournalLines(), journal) << "nothing to do, yet a global was updated";
    }
    EXPECT_EQ(Runs("R2"), step.runsAfter);
    // plan --json tells the same beforehand.
    EXPECT_EQ(Json({"plan"})["up_to_date"], true);
  }
}

TEST_F(FleetCliTest, JsonDocumentsOfInstallVerifyRollbackBackupsAndHistory) {
  Pack("1.0");
  const json first = Json({});
  EXPECT_EQ(first["command"], "install");
  EXPECT_EQ(first["product"], "Склад");
  EXPECT_EQ(first["namespace"], "USER");
  EXPECT_EQ(first["digest"].get<std::string>().size(), 64u);
  EXPECT_EQ(first["routines"]["new"], json({"R1", "R2", "R3"}));
  EXPECT_EQ(first["routines"]["counts"]["new"], kRoutines);
  EXPECT_EQ(first["backup"]["id"], "1");
  EXPECT_EQ(first["post_actions"]["last_words"], "go^R1 - Настройка");
  EXPECT_EQ(first["signature"]["state"], "unsigned");
  EXPECT_TRUE(first["error"].is_null());
  EXPECT_EQ(fs::path(first["log_path"].get<std::string>()), Folder() / "dorvik.txt");
  Pack("2.0");
  const json second = Json({"--keep-sources", "--password", "pw"});
  EXPECT_EQ(second["routines"]["without_source"], json({"R1", "R2", "R3"}));

  const json verified = Json({"verify"});
  EXPECT_EQ(verified["command"], "verify");
  EXPECT_EQ(verified["changed"], false);
  EXPECT_EQ(verified["routines"]["counts"]["matching"], kRoutines);
  auto link = Link();
  link->RunCode("ZR  ZI \"R2 ;x\" ZS R2");
  const json mismatch = Json({"verify"}, 1);
  EXPECT_EQ(mismatch["routines"]["mismatching"], json::parse(R"([{"name": "R2", "state": "changed"}])"));
  EXPECT_EQ(mismatch["error"]["stage"], "verify");

  const json sets = Json({"backups"});
  ASSERT_EQ(sets["sets"].size(), 2u);
  EXPECT_EQ(sets["sets"][1]["version"], "2.0");
  // The set holds the post-action routine (dorvik) too.
  EXPECT_EQ(sets["sets"][1]["existed"], kRoutines + 1);
  EXPECT_EQ(sets["sets"][1]["state"], "installed");

  const json rolledBack = Json({"rollback"});
  EXPECT_EQ(rolledBack["changed"], true);
  EXPECT_EQ(rolledBack["backup"]["id"], "2");
  EXPECT_EQ(rolledBack["routines_put_back"]["restored"], kRoutines + 1);
  EXPECT_EQ(Runs("R2"), "1.0");
  EXPECT_EQ(Json({"rollback"})["changed"], false) << "the set was rolled back already";

  const json history = Json({"history"});
  ASSERT_EQ(history["installations"].size(), 2u);
  EXPECT_EQ(history["installations"][0]["digest"], first["digest"]);
  EXPECT_EQ(history["installations"][0]["options"], "pre-actions,hard,restore,post-actions,remove-sources");
  EXPECT_EQ(history["installations"][1]["options"], "pre-actions,hard,restore,post-actions,keep-sources");
  EXPECT_EQ(history["installations"][1]["backup"], "2");
  EXPECT_EQ(history["installations"][1]["state"], "rolled back");
  EXPECT_EQ(history["current"], "1");
  const auto text = Cli({"history"});
  EXPECT_NE(text.out.find("Склад 2.0 (09.12.2026)"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Сейчас установлен: запись 1."), std::string::npos) << text.out;

  const json dropped = Json({"backups", "--drop", "1"});
  EXPECT_EQ(dropped["dropped"], "1");
  EXPECT_EQ(Json({"backups", "--drop", "1"}, 1)["error"]["stage"], "backups");
}

// A failure still gives one document, with the stage where it happened.
struct FailureCase {
  const char* what;
  std::vector<std::string> args;
  const char* postAction;
  bool stopServer;
  int status;
  const char* stage;
  bool changed;
};

TEST_F(FleetCliTest, FailuresNameTheirStage) {
  const FailureCase cases[] = {
      {"usage error", {"verify", "--if-changed"}, "go^R1", false, 2, "usage", false},
      {"no such namespace", {"--namespace", "NOPE"}, "go^R1", false, 3, "connect", false},
      {"a failing post-action", {}, "bad^R1", false, 1, "post_actions", true},
      {"a stopped server", {"--if-changed"}, "go^R1", true, 3, "connect", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Pack("1.0", c.postAction);
    if (c.stopServer) server_->Kill();
    const json doc = Json(c.args, c.status);
    EXPECT_EQ(doc["status"], c.status);
    EXPECT_EQ(doc["error"]["stage"], c.stage);
    EXPECT_TRUE(doc["error"]["text"].is_string() && !doc["error"]["text"].get<std::string>().empty());
    EXPECT_EQ(doc["changed"], c.changed);
    if (c.stopServer) server_->Restart();
  }
  // The failed installation was not recorded.
  EXPECT_EQ(Json({"history"})["installations"].size(), 0u);
}

}  // namespace
}  // namespace dorvik
