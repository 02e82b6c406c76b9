#include <gtest/gtest.h>

#include <algorithm>

#include "distribution/codepage.h"
#include "distribution/timefmt.h"
#include "fake_job_server.h"
#include "fakes.h"
#include "postactions/postinstall.h"
#include "scripted_ui.h"

namespace dorvik {
namespace {

using testing::FakeClock;
using testing::FakeJobServer;
using testing::MemorySettings;
using testing::ScriptedUi;

constexpr double kNoon = 0.5;
constexpr double kSecond = 1.0 / 86400;

class PostActionRunnerTest : public ::testing::Test {
 protected:
  PostActionRunnerTest() : server(clock), s(FileLocations::In("/nonexistent"), server, ui, clock, settings) {
    clock.timeOfDay = kNoon;
    s.dist.ProductName = Ru("Склад");
    s.dist.Version = "3.1";
    s.dist.PostActionLabels = {"one^INST", "two^INST"};
    s.dist.PostActionDescriptions = {Ru("Первое"), Ru("Второе")};
    ui.SetAppTitle("T");
  }

  // The log lines the runner added.
  std::vector<std::string> Log() const { return s.log.Lines(); }

  FakeClock clock;
  FakeJobServer server;
  ScriptedUi ui;
  MemorySettings settings;
  Session s;
};

std::string Dos(std::string_view utf8) { return Utf8ToCp866(utf8); }
std::string At(int seconds) { return FormatLongTime(kNoon + seconds * kSecond); }
std::string Took(int seconds) { return FormatLongTime(seconds * kSecond); }

TEST_F(PostActionRunnerTest, OptionOffAndNoPostActionsDoNoServerWork) {
  s.options.RunPostActions = false;
  EXPECT_TRUE(RunPostActionPhase(s));
  EXPECT_EQ(Log(), (std::vector<std::string>{"", Ru("Метки последействия не выполнялись")}));

  s.log = InstallLog{};
  s.options.RunPostActions = true;
  s.dist.PostActionLabels.clear();
  s.dist.PostActionDescriptions.clear();
  EXPECT_TRUE(RunPostActionPhase(s));
  EXPECT_EQ(Log(), (std::vector<std::string>{"", Ru("Выполнение меток последействия."), Ru("Начало: ") + At(0)}));
  EXPECT_TRUE(server.code.empty());
  EXPECT_EQ(ui.Count("ShowProgress"), 0);
  EXPECT_EQ(ui.Count("EnterPostActionMode"), 1);
}

TEST_F(PostActionRunnerTest, BackgroundRunRelaysMessagesAndQuestions) {
  server.aliveRounds = 6;
  server.messages = {
      {0, Dos("one^INST - Первое")},
      {1, Dos("Копирование\x01") + "40"},
      {1, Dos("Копирование\x01") + "60"},  // the same text again: only the gauge moves
      {2, "\x02" "1#" + Dos("Продолжить?") + "#2"},
      {3, "\x02" "2#" + Dos("Имя базы") + "#MAIN"},
      {4, Dos("two^INST - Второе")},
      // Written just before the job ended: read by the drain, in order.
      {6, Dos("Готово")},
      {6, Dos("Итог\x01") + "100"},
  };
  ui.kelbox = {1};
  ui.askUser = {Ru("Склад \"Юг\"")};

  ASSERT_TRUE(RunPostActionPhase(s)) << ::testing::PrintToString(Log());

  // The routine went up line by line and was saved without touching ^rMAC.
  EXPECT_EQ(server.uploaded.size(), 78u);
  EXPECT_EQ(server.uploaded["1"], "dorvik");
  EXPECT_EQ(server.uploaded["72"], " d w(\"two^INST - " + Dos("Второе") + "\")");
  const auto save = std::find_if(server.code.begin(), server.code.end(),
                                 [](const std::string& c) { return c.rfind("ZR", 0) == 0; });
  ASSERT_NE(save, server.code.end());
  EXPECT_TRUE(save->ends_with(" ZS dorvik"));
  EXPECT_EQ(*(save + 1), "k text");
  EXPECT_EQ(server.code.back(), "k ^R(\"dorvik\")");

  // Yes/no question: the program's own box, title as caption, Esc gives 2.
  EXPECT_EQ(ui.lastKelbox.message, Ru("Продолжить?"));
  EXPECT_EQ(ui.lastKelbox.buttons, Ru("Да_Нет"));
  EXPECT_EQ(ui.lastKelbox.focusButton, 2);
  EXPECT_EQ(ui.lastKelbox.escResult, 2);
  EXPECT_EQ(ui.lastAskDefault, "MAIN");
  // The quote of the answer is doubled, so the answer stays one string.
  EXPECT_EQ(server.answers, (std::vector<std::string>{"\"1\"", "\"" + Dos("Склад \"\"Юг\"\"") + "\""}));

  // Each jalive moves the clock one second; the first read comes after it.
  const std::vector<std::string> expected = {
      "",
      Ru("Выполнение меток последействия."),
      Ru("Начало: ") + At(0),
      Ru("one^INST - Первое - ") + Took(1),
      Ru("Копирование"),
      Ru("  Запрос параметра у пользователя."),
      Ru("  Параметры запроса: 1#Продолжить?#2"),
      Ru("  Ответ пользователя: 1"),
      " ",
      Ru("  Запрос параметра у пользователя."),
      Ru("  Параметры запроса: 2#Имя базы#MAIN"),
      Ru("  Ответ пользователя: Склад \"Юг\""),
      // A question does not start a message: the blank line after it runs
      // from the message before the question.
      "  - " + Took(4),
      Ru("two^INST - Второе - ") + Took(1),
      Ru("Готово - ") + Took(0),
      Ru("Итог - ") + Took(0),
      Ru("Последействия упешно выполнены."),
      Ru("Продолжительность выполнения последействий ") + Took(7),
      "",
  };
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(ui.afterLines, (std::vector<std::string>{Ru("  one^INST - Первое"), Ru("  Копирование"),
                                                      Ru("  two^INST - Второе"), Ru("  Готово"), Ru("  Итог")}));
  EXPECT_EQ(ui.titles.back(), Ru("Установка Склад 3.1  Выполнение последействий: 100%"));
  EXPECT_NE(std::find(ui.titles.begin(), ui.titles.end(), Ru("Установка Склад 3.1  Выполнение последействий: 40%")),
            ui.titles.end());
  EXPECT_EQ(ui.timeTexts.front(), Ru("Прошло: ") + Took(1));
  EXPECT_EQ(clock.sleeps.front(), 2000u);
  EXPECT_EQ(clock.sleeps.back(), 100u);
}

TEST_F(PostActionRunnerTest, DurationGoesOnTheStartLineWhenTheJobWritesNothing) {
  server.aliveRounds = 3;
  ASSERT_TRUE(RunPostActionPhase(s));
  EXPECT_EQ(Log()[2], Ru("Начало: ") + At(0) + " - " + Took(4));
}

TEST_F(PostActionRunnerTest, ForegroundRunWhenTheJobCannotStart) {
  server.jobAnswer = "0";
  ASSERT_TRUE(RunPostActionPhase(s));
  const std::vector<std::string> expected = {
      "",
      Ru("Выполнение меток последействия."),
      Ru("Начало: ") + At(0),
      Ru("Не удалось стартовать фоновое задаение для выполнения последействий."),
      Ru("Выполнение последействий пойдет без вывода сообщений о прогрессе"),
      "$$stf^dorvik",
      Ru("Последействия упешно выполнены."),
      Ru("Продолжительность выполнения последействий ") + Took(0),
      "",
  };
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(server.aliveCalls, 0);
  // Without progress messages the gauge would only stand still: it is hidden.
  EXPECT_NE(std::find(ui.calls.begin(), ui.calls.end(), "SetGaugeVisible:0"), ui.calls.end());
}

TEST_F(PostActionRunnerTest, FailureTextOfTheRunIsShownAndLogged) {
  server.aliveRounds = 1;
  server.result = Dos("Уже выполняется установка продукта в данный момент");
  EXPECT_FALSE(RunPostActionPhase(s));
  EXPECT_EQ(ui.messages, (std::vector<std::string>{Ru("Уже выполняется установка продукта в данный момент")}));
  const auto log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], Ru("Неуспех. Уже выполняется установка продукта в данный момент"));
  EXPECT_EQ(log.back(), Ru("Ошибка GUI приложения: Operation aborted"));
  // A failed run leaves the job's data for diagnosis.
  EXPECT_EQ(std::count(server.code.begin(), server.code.end(), "k ^R(\"dorvik\")"), 0);
}

TEST_F(PostActionRunnerTest, ServerErrorsStopTheRun) {
  for (const std::string call : {"$$job^dorvik", "$$jalive^dorvik", "$$SetAnswer", "$g(^R(\"dorvik\"))"}) {
    FakeClock clock2;
    FakeJobServer server2(clock2);
    ScriptedUi ui2;
    Session s2(FileLocations::In("/nonexistent"), server2, ui2, clock2, settings);
    s2.dist = s.dist;
    server2.aliveRounds = 2;
    server2.messages = {{0, "\x02" "2#Q#"}};
    ui2.askUser = {"x"};
    server2.failOn = call;
    EXPECT_FALSE(RunPostActionPhase(s2)) << call;
    EXPECT_EQ(ui2.messages, (std::vector<std::string>{Ru("Ошибка! <UNDEFINED>")})) << call;
    const auto& log = s2.log.Lines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "<UNDEFINED>") << call;
    EXPECT_EQ(log.back(), Ru("Ошибка GUI приложения: Operation aborted")) << call;
    ASSERT_GE(ui2.calls.size(), 2u);
    EXPECT_EQ(ui2.calls[ui2.calls.size() - 2], "SetAnimation:0") << call;
  }
}

TEST_F(PostActionRunnerTest, RefusedUploadIsReportedAndNothingRuns) {
  server.failOn = "s text(P1)=P2";
  EXPECT_FALSE(RunPostActionPhase(s));
  EXPECT_EQ(ui.messages,
            (std::vector<std::string>{Ru("Ошибка при восстановлении программы в CacheКод ошибки: <UNDEFINED>")}));
  EXPECT_EQ(std::count(server.code.begin(), server.code.end(), "$$job^dorvik"), 0);
  EXPECT_EQ(server.code.back(), "k text");

  // A failed save counts even though removing the array afterwards works.
  FakeJobServer server2(clock);
  ScriptedUi ui2;
  Session s2(FileLocations::In("/nonexistent"), server2, ui2, clock, settings);
  s2.dist = s.dist;
  server2.failOn = "ZR";
  EXPECT_FALSE(RunPostActionPhase(s2));
  EXPECT_EQ(ui2.messages.size(), 1u);
  EXPECT_EQ(std::count(server2.code.begin(), server2.code.end(), "$$job^dorvik"), 0);
  EXPECT_EQ(s2.log.Lines()[s2.log.Lines().size() - 2], "<UNDEFINED>");
}

TEST_F(PostActionRunnerTest, UnfitLabelIsAStructureErrorBeforeAnythingIsSent) {
  s.dist.PostActionLabels[1] = "two^INST\") k ^DATA w(\"";
  EXPECT_FALSE(RunPostActionPhase(s));
  EXPECT_TRUE(server.code.empty());
  EXPECT_EQ(ui.messages, (std::vector<std::string>{Ru("Ошибка в структуре дистрибутива")}));
  EXPECT_EQ(s.log.Lines().back(), Ru("Ошибка GUI приложения: Operation aborted"));
}

TEST_F(PostActionRunnerTest, BadPercentageEndsTheRunWithItsReason) {
  server.aliveRounds = 2;
  server.messages = {{0, "x\x01" "4x"}};
  EXPECT_FALSE(RunPostActionPhase(s));
  EXPECT_EQ(s.log.Lines().back(), Ru("Ошибка GUI приложения: '4x' is not a valid integer value"));
}

TEST_F(PostActionRunnerTest, EscOnAYesNoQuestionAndCancelledTextQuestion) {
  server.aliveRounds = 3;
  server.messages = {{0, "\x02" "1#A?#1"}, {1, "\x02" "2#B?#dflt"}};
  ui.kelbox = {2};  // the Esc result
  ui.askUser = {""};
  ASSERT_TRUE(RunPostActionPhase(s));
  EXPECT_EQ(server.answers, (std::vector<std::string>{"\"2\"", "\"\""}));
}

}  // namespace
}  // namespace dorvik
