// Post-action runs against a real mserver: the generated routine is saved,
// started as a background job (or run in the foreground when the server
// starts no jobs) and relays what the distribution's labels write and ask.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "engine/upload.h"
#include "fakes.h"
#include "mserver_process.h"
#include "postactions/postinstall.h"
#include "scripted_ui.h"
#include "link/tcp_link.h"

namespace dorvik {
namespace {

using testing::MemorySettings;
using testing::MServerProcess;
using testing::ScriptedUi;

std::string Dos(std::string_view utf8) { return Utf8ToCp866(utf8); }

// The distribution's own routine with the labels the tests run (866 text).
const std::vector<std::string> kLabelRoutine = {
    "PATEST",
    "PATEST ;",
    " Q",
    "msg() d w^dorvik(\"" + Dos("Шаг 1") + "\"_$C(1)_\"40\") d w^dorvik(\"" + Dos("Шаг 1") + "\"_$C(1)_\"40\")",
    " d w^dorvik(\"" + Dos("Шаг 2") + "\") q \"\"",
    "yn() s ^PATEST(\"yn\")=$$ask^dorvik(1,\"" + Dos("Продолжить?") + "\",\"\") q \"\"",
    "str() s ^PATEST(\"str\")=$$ask^dorvik(2,\"" + Dos("Имя базы") + "\",\"MAIN\") q \"\"",
    "fail() q \"" + Dos("Отказ") + "\"",
    "err() n x s x=1/0 q \"\"",
    "late() d w^dorvik(\"" + Dos("Поздно 1") + "\") d w^dorvik(\"" + Dos("Поздно 2") + "\") q \"\"",
    "slow() h 3 q \"\"",
    "badpct() d w^dorvik(\"x\"_$C(1)_\"4x\") h 1 q \"\"",
    "padpct() d w^dorvik(\"y\"_$C(1)_$J(40,3)) d w^dorvik(\"z\"_$C(1)_\"60 \") h 1 q \"\"",
};

// Durations and times vary from run to run: they read "T" in comparisons.
std::vector<std::string> Masked(const std::vector<std::string>& lines) {
  static const std::regex time(R"(\d+:\d\d:\d\d)");
  std::vector<std::string> out;
  for (const auto& line : lines) out.push_back(std::regex_replace(line, time, "T"));
  return out;
}

class PostActionServerTest : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> serverArgs = {}) {
    server = std::make_unique<MServerProcess>(MSERVER_BINARY, std::move(serverArgs));
    s = std::make_unique<Session>(FileLocations::In("/nonexistent"), link, ui, clock, settings);
    link.SetServer(BuildServerString("127.0.0.1", std::to_string(server->Port())));
    link.SetNamespace("USER");
    s->dist.ProductName = Ru("Склад");
    s->dist.Version = "3.1";
    ASSERT_EQ(UploadRoutineLines(*s, kLabelRoutine), UploadResult::Stored) << ::testing::PrintToString(s->log.Lines());
    s->log = InstallLog{};
  }

  void PostActions(std::vector<std::string> labels) {
    s->dist.PostActionLabels.clear();
    s->dist.PostActionDescriptions.clear();
    for (const auto& label : labels) {
      s->dist.PostActionLabels.push_back(label + "^PATEST");
      // A quote in the description must not break the generated line.
      s->dist.PostActionDescriptions.push_back(Ru("Метка \"") + label + "\"");
    }
  }

  // How many lines the server has run, once the answers this link still
  // awaits are taken (every line it sent has run).
  std::size_t LinesRun() {
    link.ErrorCode();
    return server->TranscriptLines().size();
  }

  // A value on the server, read through a connection of its own.
  std::string ServerValue(const std::string& expression) {
    link.ErrorCode();  // every line this link sent has run
    TcpLink other;
    other.SetServer(BuildServerString("127.0.0.1", std::to_string(server->Port())));
    other.SetNamespace("USER");
    return other.Evaluate(expression);
  }

  std::unique_ptr<MServerProcess> server;
  TcpLink link;
  ScriptedUi ui;
  SystemClock clock;
  MemorySettings settings;
  std::unique_ptr<Session> s;
};

TEST_F(PostActionServerTest, BackgroundJobRelaysMessagesQuestionsAndTheLastWords) {
  Start();
  PostActions({"msg", "yn", "str", "late"});
  ui.kelbox = {2};
  ui.askUser = {Ru("Склад \"Юг\"")};
  ASSERT_TRUE(RunPostActionPhase(*s)) << ::testing::PrintToString(s->log.Lines());

  const std::vector<std::string> expected = {
      "",
      Ru("Выполнение меток последействия."),
      Ru("Начало: T"),
      Ru("msg^PATEST - Метка \"msg\" - T"),
      Ru("Шаг 1 - T"),  // written twice in a row, logged once
      Ru("Шаг 2 - T"),
      Ru("yn^PATEST - Метка \"yn\""),
      Ru("  Запрос параметра у пользователя."),
      Ru("  Параметры запроса: 1#Продолжить?#1"),
      Ru("  Ответ пользователя: 2"),
      "  - T",
      Ru("str^PATEST - Метка \"str\""),
      Ru("  Запрос параметра у пользователя."),
      Ru("  Параметры запроса: 2#Имя базы#MAIN"),
      Ru("  Ответ пользователя: Склад \"Юг\""),
      "  - T",
      Ru("late^PATEST - Метка \"late\" - T"),
      Ru("Поздно 1 - T"),
      Ru("Поздно 2 - T"),
      Ru("Последействия упешно выполнены."),
      Ru("Продолжительность выполнения последействий T"),
      "",
  };
  EXPECT_EQ(Masked(s->log.Lines()), expected);
  EXPECT_EQ(ui.afterLines.front(), Ru("  msg^PATEST - Метка \"msg\""));
  EXPECT_EQ(ui.afterLines.back(), Ru("  Поздно 2"));
  EXPECT_NE(std::find(ui.titles.begin(), ui.titles.end(), Ru("Установка Склад 3.1  Выполнение последействий: 40%")),
            ui.titles.end());
  // The answers arrived intact, the quotes included, and the run left no data.
  EXPECT_EQ(ServerValue("$g(^PATEST(\"yn\"))"), "2");
  EXPECT_EQ(ServerValue("$g(^PATEST(\"str\"))"), Dos("Склад \"Юг\""));
  EXPECT_EQ(ServerValue("$d(^R(\"dorvik\"))"), "0");
}

TEST_F(PostActionServerTest, FailureTextEndsTheRun) {
  Start();
  PostActions({"fail", "msg"});
  EXPECT_FALSE(RunPostActionPhase(*s));
  EXPECT_EQ(ui.messages, (std::vector<std::string>{Ru("Отказ")}));
  const auto& log = s->log.Lines();
  EXPECT_EQ(log[log.size() - 2], Ru("Неуспех. Отказ"));
  EXPECT_EQ(log.back(), Ru("Ошибка GUI приложения: Operation aborted"));
  // The post-action after the failed one did not run.
  EXPECT_EQ(std::count(log.begin(), log.end(), Ru("Шаг 2")), 0);
}

TEST_F(PostActionServerTest, ErrorInsideAPostActionEndsTheRun) {
  // A run of its own: after a run the installer's process keeps ^dorvik, so
  // a second run on the same connection would find the namespace busy.
  Start();
  PostActions({"err"});
  EXPECT_FALSE(RunPostActionPhase(*s));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("DIVIDE"), std::string::npos) << ui.messages[0];
}

TEST_F(PostActionServerTest, ForegroundRunWhenTheServerStartsNoJobs) {
  Start({"--max-jobs", "0"});
  PostActions({"msg", "yn", "str"});
  ASSERT_TRUE(RunPostActionPhase(*s)) << ::testing::PrintToString(s->log.Lines());
  const std::vector<std::string> expected = {
      "",
      Ru("Выполнение меток последействия."),
      Ru("Начало: T"),
      Ru("Не удалось стартовать фоновое задаение для выполнения последействий."),
      Ru("Выполнение последействий пойдет без вывода сообщений о прогрессе"),
      "$$stf^dorvik",
      Ru("Последействия упешно выполнены."),
      Ru("Продолжительность выполнения последействий T"),
      "",
  };
  EXPECT_EQ(Masked(s->log.Lines()), expected);
  // Nobody listens: the questions took their defaults on the server.
  EXPECT_TRUE(ui.questions.empty());
  // Without progress messages the gauge would only stand still: it is hidden.
  EXPECT_EQ(ui.Count("SetGaugeVisible:0"), 1);
  EXPECT_EQ(ServerValue("$g(^PATEST(\"yn\"))"), "1");
  EXPECT_EQ(ServerValue("$g(^PATEST(\"str\"))"), "MAIN");
}

TEST_F(PostActionServerTest, AnotherRunHoldingTheNamespace) {
  Start();
  PostActions({"msg"});
  TcpLink other;
  other.SetServer(BuildServerString("127.0.0.1", std::to_string(server->Port())));
  other.SetNamespace("USER");
  other.RunCode("L +^dorvik");
  ASSERT_EQ(other.ErrorCode(), 0) << other.ErrorText();
  // The other installation ends a few seconds later; until then the job
  // counts as running.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::seconds(4));
    other.RunCode("L -^dorvik");
  });
  const bool ok = RunPostActionPhase(*s);
  release.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(ui.messages, (std::vector<std::string>{Ru("Уже выполняется установка продукта в данный момент")}));
  const auto& log = s->log.Lines();
  EXPECT_EQ(log[log.size() - 2], Ru("Неуспех. Уже выполняется установка продукта в данный момент"));
}

TEST_F(PostActionServerTest, NothingToRunDoesNoServerWork) {
  Start();
  const auto before = LinesRun();
  s->options.RunPostActions = false;
  PostActions({"msg"});
  EXPECT_TRUE(RunPostActionPhase(*s));
  EXPECT_EQ(s->log.Lines(), (std::vector<std::string>{"", Ru("Метки последействия не выполнялись")}));

  s->log = InstallLog{};
  s->options.RunPostActions = true;
  PostActions({});
  EXPECT_TRUE(RunPostActionPhase(*s));
  EXPECT_EQ(Masked(s->log.Lines()),
            (std::vector<std::string>{"", Ru("Выполнение меток последействия."), Ru("Начало: T")}));
  EXPECT_EQ(ui.Count("ShowProgress"), 0);
  EXPECT_EQ(ui.Count("EnterPostActionMode"), 1);
  EXPECT_EQ(LinesRun(), before);
}

TEST_F(PostActionServerTest, UnfitLabelIsAStructureErrorBeforeAnythingIsSent) {
  Start();
  const auto before = LinesRun();
  PostActions({"msg"});
  s->dist.PostActionLabels.push_back("two^PATEST\") k ^PATEST w(\"");
  s->dist.PostActionDescriptions.push_back("two");
  EXPECT_FALSE(RunPostActionPhase(*s));
  EXPECT_EQ(ui.messages, (std::vector<std::string>{Ru("Ошибка в структуре дистрибутива")}));
  EXPECT_EQ(s->log.Lines().back(), Ru("Ошибка GUI приложения: Operation aborted"));
  EXPECT_EQ(LinesRun(), before);
}

TEST_F(PostActionServerTest, BadPercentageEndsTheRunWithItsReason) {
  Start();
  PostActions({"badpct"});
  EXPECT_FALSE(RunPostActionPhase(*s));
  EXPECT_EQ(s->log.Lines().back(), Ru("Ошибка GUI приложения: '4x' is not a valid integer value"));
}

TEST_F(PostActionServerTest, PercentagesPaddedWithBlanksMoveTheGauge) {
  Start();
  PostActions({"padpct"});
  ASSERT_TRUE(RunPostActionPhase(*s)) << ::testing::PrintToString(s->log.Lines());
  EXPECT_NE(std::find(ui.calls.begin(), ui.calls.end(), "SetProgress:40"), ui.calls.end());
  EXPECT_EQ(ui.Progress(), 60);
}

TEST_F(PostActionServerTest, EscOnAYesNoQuestionAndACancelledTextQuestion) {
  Start();
  PostActions({"yn", "str"});
  ui.kelbox = {2};  // what Esc gives
  ui.askUser = {""};
  ASSERT_TRUE(RunPostActionPhase(*s)) << ::testing::PrintToString(s->log.Lines());
  EXPECT_EQ(ServerValue("$g(^PATEST(\"yn\"))"), "2");
  EXPECT_EQ(ServerValue("$d(^PATEST(\"str\"))_\"/\"_$g(^PATEST(\"str\"))"), "1/");
}

TEST_F(PostActionServerTest, AServerThatVanishesStopsTheRun) {
  Start();
  PostActions({"slow"});
  ui.onProcessMessages = [&](int n) {
    if (n == 2) server->Kill();
  };
  EXPECT_FALSE(RunPostActionPhase(*s));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].rfind(Ru("Ошибка! <LINK>"), 0), 0u) << ui.messages[0];
  EXPECT_EQ(s->log.Lines().back(), Ru("Ошибка GUI приложения: Operation aborted"));
}

}  // namespace
}  // namespace dorvik
