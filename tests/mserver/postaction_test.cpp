// The installer's post-action routine uploaded and run the way the installer
// drives it: the job started from one connection, polled, asked and answered
// across processes, seen from a second connection; and the foreground path
// when no job can start.
#include <gtest/gtest.h>

#include <thread>

#include "routine_upload.h"
#include "server_fixture.h"

namespace mserver_test {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kPostActions = {
    "PAT",
    "PAT ;post-actions under test",
    " q",
    "go() d w^dorvik(\"half\"_$c(1)_\"50\")",
    " s ^PADONE=$$ask^dorvik(1,\"Go on?\",\"\")",
    " s ^PANAME=$$ask^dorvik(2,\"Name?\",\"anon\")",
    " q \"\"",
    "bad() q 1/0",
};

std::string Value(mlink::Client& c, const std::string& code) {
  auto a = Call(c, code);
  EXPECT_EQ(a.error, 0) << code << ": " << a.errorName;
  return a.value;
}

// Waits until the message list holds at least n entries; answers entry n.
std::string WaitForMessage(mlink::Client& c, int n) {
  for (int i = 0; i < 300; ++i) {
    std::string m = Value(c, "$g(^R(\"dorvik\"," + std::to_string(n) + "))");
    if (!m.empty()) return m;
    std::this_thread::sleep_for(50ms);
  }
  ADD_FAILURE() << "no message " << n;
  return "";
}

void Install(mlink::Client& c, const std::vector<std::string>& labels, const std::vector<std::string>& descriptions) {
  ASSERT_EQ(UploadRoutine(c, "USER", kPostActions, false), "");
  auto routine = PostActionRoutine(labels, descriptions);
  ASSERT_EQ(routine.size(), 75 + 2 * labels.size());
  ASSERT_EQ(UploadRoutine(c, "USER", routine, false), "");
}

TEST(PostActions, JobRunsAsksAndReportsAcrossTwoConnections) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client wizard = server.Connect();
  mlink::Client other = server.Connect();
  Install(wizard, {"go^PAT"}, {"Первый шаг"});

  ASSERT_EQ(Value(wizard, "$$job^dorvik"), "1");
  EXPECT_EQ(WaitForMessage(wizard, 1), "go^PAT - " + Cp866("Первый шаг"));
  EXPECT_EQ(WaitForMessage(wizard, 2),
            "half\x01"
            "50");
  EXPECT_EQ(WaitForMessage(wizard, 3),
            "\x02"
            "1#Go on?#1");
  // The run is in progress: both processes see ^dorvik held by the job.
  EXPECT_EQ(Value(other, "$$jalive^dorvik"), "1");
  EXPECT_EQ(Value(wizard, "$$jalive^dorvik"), "1");
  EXPECT_EQ(Value(wizard, "$$SetAnswer^dorvik(\"2\")"), "");
  EXPECT_EQ(WaitForMessage(wizard, 4),
            "\x02"
            "2#Name?#anon");
  EXPECT_EQ(Value(wizard, "$$SetAnswer^dorvik(\"Ann\")"), "");

  std::string alive = "1";
  for (int i = 0; i < 200 && alive == "1"; ++i) {
    std::this_thread::sleep_for(50ms);
    alive = Value(wizard, "$$jalive^dorvik");
  }
  ASSERT_EQ(alive, "0");
  EXPECT_EQ(Value(wizard, "$d(^R(\"dorvik\"))_\"/\"_^R(\"dorvik\")"), "11/");
  EXPECT_EQ(Value(wizard, "$g(^PADONE)_\"/\"_$g(^PANAME)"), "2/Ann");
  EXPECT_EQ(Value(wizard, "$d(^R(\"dorvik_res\"))"), "0");

  // The wizard's process now holds ^dorvik: a run from the other connection
  // reports that an installation is in progress.
  EXPECT_EQ(Value(other, "$$stf^dorvik"), Cp866("Уже выполняется установка продукта в данный момент"));
  EXPECT_EQ(Value(other, "$$jalive^dorvik"), "1");
  // Once the wizard disconnects its locks go with its process.
  wizard.Close();
  std::string freed = "1";
  for (int i = 0; i < 100 && freed == "1"; ++i) {
    std::this_thread::sleep_for(50ms);
    freed = Value(other, "$$jalive^dorvik");
  }
  EXPECT_EQ(freed, "0");
  EXPECT_NE(server.log().find("job "), std::string::npos);
}

TEST(PostActions, WithoutJobSlotsTheRunHappensInTheCallerWithDefaults) {
  TempDir data;
  ServerProcess server(data.path(), {"--max-jobs", "0"});
  mlink::Client wizard = server.Connect();
  Install(wizard, {"go^PAT"}, {"step"});

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Value(wizard, "$$job^dorvik"), "0");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);  // no 30 s wait
  EXPECT_EQ(Value(wizard, "$$stf^dorvik"), "");
  EXPECT_EQ(Value(wizard, "$g(^PADONE)_\"/\"_$g(^PANAME)"), "1/anon");
  // No question was put: the caller is not a listening wizard.
  EXPECT_EQ(Value(wizard, "$o(^R(\"dorvik\",\"\"),-1)"), "2");
}

TEST(PostActions, FailuresBecomeTheResult) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client wizard = server.Connect();
  Install(wizard, {"bad^PAT", "go^PAT"}, {"fails", "never runs"});
  EXPECT_EQ(Value(wizard, "$$stf^dorvik").rfind("<DIVIDE>", 0), 0u);
  EXPECT_EQ(Value(wizard, "$d(^PADONE)"), "0");
}

}  // namespace
}  // namespace mserver_test
