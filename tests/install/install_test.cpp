#include <gtest/gtest.h>

#include "app/log_file.h"
#include "distribution/codepage.h"
#include "distribution/timefmt.h"
#include "install_fixture.h"
#include "app/driver.h"
#include "engine/connection.h"
#include "port_forward.h"

namespace dorvik::testing {
namespace {

std::vector<TestRoutine> TwoRoutines() {
  return {{"VLRA", {"VLRA ;first", "f() q \"ok\"", " q"}}, {"VLRB", {"VLRB ;second", "g(x) q x*2"}}};
}

// Compares two logs line by line and names the first difference readably.
void ExpectSameLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
  for (std::size_t i = 0; i < std::max(actual.size(), expected.size()); ++i) {
    const std::string a = i < actual.size() ? Cp1251ToUtf8(actual[i]) : "<none>";
    const std::string e = i < expected.size() ? Cp1251ToUtf8(expected[i]) : "<none>";
    ASSERT_EQ(a, e) << "line " << i + 1;
  }
}

TestRoutine CheckRoutine(const std::string& body) { return {"VLCHK", {"VLCHK ;check", "chk() " + body}}; }

// An edit of a plain-key (key 0) data file that the packer would refuse to
// write: `from` becomes `to`, and the integrity marker, which would refuse
// the changed file at once, is taken out as if another packer wrote it.
std::function<void(std::string&)> UnsealedEdit(std::string from, std::string to, bool& edited) {
  return [from = std::move(from), to = std::move(to), &edited](std::string& bytes) {
    const auto at = bytes.find(from);
    const auto marker = bytes.find("VMSEAL:");
    if (at == std::string::npos || marker == std::string::npos) return;
    bytes.erase(marker, bytes.find('\r', marker) - marker);
    bytes.replace(bytes.find(from), from.size(), to);
    edited = true;
  };
}

TEST_F(InstallTest, PlainInstallationLogsEveryStepInItsPlace) {
  // A run from 23:59:30 to 00:01:00: the end time is read right after the
  // progress window closes.
  clock.now = [&] {
    return !ui.calls.empty() && ui.calls.back() == "CloseProgress" ? 60.0 / 86400 : 1.0 - 30.0 / 86400;
  };
  Prepare(MakePackage(TwoRoutines()));
  ASSERT_TRUE(Install());
  EXPECT_TRUE(session->run.InstallSucceeded);
  EXPECT_EQ(Query("$$f^VLRA"), "ok");
  EXPECT_EQ(Query("$$g^VLRB(21)"), "42");
  // Without "keep sources" the routines run but their source is gone.
  EXPECT_EQ(Query("$D(^ROUTINE(\"VLRA\"))"), "0");
  EXPECT_EQ(Query("$T(f^VLRA)"), "");
  EXPECT_EQ(settings.values["NS"], "USER");
  EXPECT_EQ(ui.opened.back().filename(), "readme.txt");

  const std::string port = std::to_string(server->Port());
  std::vector<std::string> expected = {
      Ru("Протокол установки дистрибутива. 08.12.2026 23:59:30"),
      Ru("Версия установщика: 2.9"),
      "",
      Ru("Продукт: Тест"),
      Ru("Версия: 1.0"),
      Ru("Дата сборки: 08.12.2026"),
      "",
      "",
      Ru("Подключение к системной области."),
      Ru("Параметры соединения:"),
      Ru("IP адрес:127.0.0.1"),
      Ru("Порт:") + port,
      Ru("Область:%SYS"),
      "",
      Ru("Успешное соединение с областью %SYS"),
      Ru("Версия Cache: ") + Query("$ZVERSION"),
      "",
      Ru("Подключение к выбранной области."),
      Ru("Параметры соединения:"),
      Ru("IP адрес:127.0.0.1"),
      Ru("Порт:") + port,
      Ru("Область:USER"),
      "",
      Ru("Успешное соединение с областью USER"),
      "",
      Ru("Параметры работы установщика:"),
      Ru("Выполнять метки преддействия;"),
      Ru("Установка с \"жестким\" преддействием;"),
      Ru("Восстанавливать программы;"),
      Ru("Выполнять метки последействия."),
      "",
      Ru("Старт процесса установки: 23:59:30"),
      "",
      "",
      Ru("Метки проверки нет."),
      "",
      "",
      Ru("Восстановление программ дистрибутива."),
      Ru("В дистрибутиве 2 программ."),
      "VLRA",
      "VLRB",
      Ru("Программы успешно восстановлены."),
      "",
      Ru("Выполнение меток последействия."),
      Ru("Начало: 23:59:30"),
      Ru("Время окончания установки: 0:01:00"),
      Ru("Продолжительность установки: 0:01:30"),
  };
  ExpectSameLines(session->log.Lines(), expected);

  const auto written = WriteLogFile(session->log, session->files.LogPath, session->files.FallbackFolder);
  EXPECT_TRUE(written.written);
  EXPECT_EQ(written.path.filename(), "dorvik.txt");
}

TEST_F(InstallTest, JournalingIsOffForRoutinesAndOnForTheLabel) {
  Prepare(MakePackage(TwoRoutines(), "chk^VLCHK", {CheckRoutine("q \"\"")}));
  session->options.KeepSources = true;
  ASSERT_TRUE(Install());
  EXPECT_TRUE(LogHasInOrder({Ru("Метка проверки: chk^VLCHK"), Ru("Восстановление программ проверки."), "VLCHK",
                             Ru("Выполнение метки проверки:"), Ru("Успех."), "VLRA"}));
  // Sources kept: the text is there and the routine still runs.
  EXPECT_EQ(Query("$T(f^VLRA)"), "f() q \"ok\"");
  EXPECT_EQ(Query("$$f^VLRA"), "ok");

  auto fills = TranscriptWith("s text(P1)=P2");
  ASSERT_FALSE(fills.empty());
  for (const auto& line : fills) EXPECT_NE(line.find("journal=off"), std::string::npos) << line;
  const auto label = TranscriptWith("$$chk^VLCHK");
  ASSERT_EQ(label.size(), 1u);
  EXPECT_NE(label[0].find("journal=on"), std::string::npos);
}

TEST_F(InstallTest, HardModeStopsOnAReasonAndSoftModeAsks) {
  const std::string reason866 = Utf8ToCp866("Область занята");
  Prepare(MakePackage(TwoRoutines(), "chk^VLCHK", {CheckRoutine("q \"" + reason866 + "\"")}));
  EXPECT_FALSE(Install());
  const std::string message = Ru("Не выполнилось преддействие. ") + " " + Ru("Область занята");
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back(), message);
  EXPECT_TRUE(LogHasInOrder(
      {Ru("Выполнение метки проверки:"), Ru("Сбой программы. ") + message, Ru("Время окончания установки: 12:00:00")}));
  EXPECT_EQ(Query("$D(^rOBJ(\"VLRA\"))"), "0");  // nothing restored
}

TEST_F(InstallTest, SoftModeAnsweredNoGoesOn) {
  const std::string reason866 = Utf8ToCp866("Область занята");
  Prepare(MakePackage(TwoRoutines(), "chk^VLCHK", {CheckRoutine("q \"" + reason866 + "\"")}), {"q"});
  ui.yesNo = {false};
  ASSERT_TRUE(Install());
  EXPECT_EQ(ui.questions.back(),
            Ru("Не выполнилось преддействие. ") + " " + Ru("Область занята") + Ru(". Прервать установку?"));
  EXPECT_TRUE(LogHasInOrder({Ru("Неуспех. ") + Ru("Область занята"), Ru("Успех."), "VLRA"}));
  EXPECT_EQ(Query("$$f^VLRA"), "ok");
}

TEST_F(InstallTest, TheTitleFollowsTheCheckStageAndEscIsAcknowledgedDuringTheLabel) {
  Prepare(MakePackage(TwoRoutines(), "chk^VLCHK", {CheckRoutine("q \"\"")}));
  ASSERT_TRUE(Install());
  // No stale percentage of the check routines while the label runs, nor of
  // the check stage when the restore begins.
  const std::string prefix = Ru("Установка Тест 1.0. ");
  const std::vector<std::string> titles = {
      prefix + Ru("Восстановление программ 50%"), prefix + Ru("Анализ области установки..."),
      prefix + Ru("Восстановление программ 0%"), prefix + Ru("Восстановление программ 50%"),
      prefix + Ru("Восстановление программ 100%")};
  EXPECT_EQ(std::vector<std::string>(ui.titles.begin(), ui.titles.begin() + 5), titles);
  // Esc is acknowledged from the check routines through the label's call.
  const auto analysis = std::find(ui.calls.begin(), ui.calls.end(), "SetStage:" + Ru("Анализ области установки..."));
  ASSERT_NE(analysis, ui.calls.end());
  EXPECT_EQ(std::count(ui.calls.begin(), analysis, "AcceptAbortRequests:1"), 1);
  EXPECT_EQ(std::count(ui.calls.begin(), analysis, "AcceptAbortRequests:0"), 0);
  EXPECT_EQ(std::count(ui.calls.begin(), ui.calls.end(), "AcceptAbortRequests:0"), 2);  // check, restore
}

TEST_F(InstallTest, LabelsThatWillNotBeCalledAreNotRefused) {
  // Post-actions off: an unfit post-action label does no harm.
  // The packer refuses such a label, so it is put into a plain-key file
  // afterwards, without the integrity marker, as another packer would.
  auto package = MakePackage(TwoRoutines());
  dorpack::PostActionSpec bad;
  bad.description.bytes = "bad";
  bad.label.bytes = "x^VLRA";
  package.postActions = {bad};
  package.key = 0;
  bool edited = false;
  Prepare(package, {}, UnsealedEdit("x^VLRA@", "x^VLRA s ^INJ=1@", edited));
  ASSERT_TRUE(edited);
  session->options.RunPostActions = false;
  EXPECT_TRUE(Install()) << (ui.messages.empty() ? "" : Cp1251ToUtf8(ui.messages.back()));
  EXPECT_EQ(Query("$$f^VLRA"), "ok");
  EXPECT_EQ(Query("$D(^INJ)"), "0");
}

TEST_F(InstallTest, AnUnfitCheckLabelIsNotRefusedWithoutPreActions) {
  auto package = MakePackage(TwoRoutines(), "chk^VLCHK", {CheckRoutine("q \"\"")});
  package.key = 0;
  bool edited = false;
  Prepare(package, {"no"}, UnsealedEdit("chk^VLCHK", "chk^VLCHK s ^INJ=1", edited));
  ASSERT_TRUE(edited);
  EXPECT_TRUE(Install()) << (ui.messages.empty() ? "" : Cp1251ToUtf8(ui.messages.back()));
  EXPECT_EQ(Query("$D(^rOBJ(\"VLCHK\"))"), "1");  // the check routines are still stored
  EXPECT_EQ(Query("$$f^VLRA"), "ok");
  EXPECT_EQ(Query("$D(^INJ)"), "0");
  // With pre-actions the same label is refused before anything runs.
  session = std::make_unique<Session>(FileLocations::In(dir), *link, ui, clock, settings);
  edited = false;
  Prepare(package, {}, UnsealedEdit("chk^VLCHK", "chk^VLCHK s ^INJ=1", edited));
  ASSERT_TRUE(edited);
  EXPECT_FALSE(Install());
  EXPECT_EQ(ui.messages.back(), Ru("Ошибка в структуре дистрибутива"));
  EXPECT_EQ(Query("$D(^INJ)"), "0");
}

TEST_F(InstallTest, ServerErrorInTheLabel) {
  Prepare(MakePackage(TwoRoutines(), "chk^VLCHK", {CheckRoutine("s x=1/0 q \"\"")}));
  EXPECT_FALSE(Install());
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back().rfind(Ru("Не выполнилось преддействие. Код ошибки: <DIVIDE>"), 0), 0u)
      << Cp1251ToUtf8(ui.messages.back());
  EXPECT_TRUE(LogHasInOrder({Ru("Выполнение метки проверки:"), Ru("Сбой программы. ") + ui.messages.back()}));
}

TEST_F(InstallTest, NoPreActionsStillStoresCheckRoutines) {
  Prepare(MakePackage(TwoRoutines(), "chk^VLCHK", {CheckRoutine("s x=1/0 q \"\"")}), {"no"});
  ASSERT_TRUE(Install());
  EXPECT_TRUE(TranscriptWith("$$chk^VLCHK").empty());
  EXPECT_EQ(Query("$D(^rOBJ(\"VLCHK\"))"), "1");
  EXPECT_TRUE(LogHasInOrder({Ru("Преддействия не выполнять;")}));
}

TEST_F(InstallTest, RestoreOffTouchesNoRoutineButStillCallsTheLabel) {
  Prepare(MakePackage(TwoRoutines(), "chk^VLCHK", {CheckRoutine("q \"\"")}));
  session->options.RestoreRoutines = false;
  session->options.RunPostActions = false;
  // The check routine is only shown, not stored, so on this fresh server
  // the label's routine does not exist and the hard pre-action fails.
  EXPECT_FALSE(Install());
  EXPECT_TRUE(LogHasInOrder(
      {Ru("НЕ восстанавливать программы;"), Ru("Последействия не выполнять."), Ru("Выполнение метки проверки:")}));
  EXPECT_FALSE(LogHasInOrder({"VLCHK"}));
  EXPECT_EQ(TranscriptWith("$$chk^VLCHK").size(), 1u);
  EXPECT_TRUE(TranscriptWith("s text(P1)=P2").empty());
  EXPECT_EQ(ui.messages.back().rfind(Ru("Не выполнилось преддействие. Код ошибки: <NOROUTINE>"), 0), 0u)
      << Cp1251ToUtf8(ui.messages.back());
  EXPECT_EQ(Query("$D(^rOBJ(\"VLRA\"))"), "0");
}

TEST_F(InstallTest, ChunksStayUnderTheLimitAndTheRoutineComesBackWhole) {
  TestRoutine big{"VLBIG", {"VLBIG ;many lines"}};
  for (int i = 0; i < 60; ++i) big.lines.push_back(" s x(" + std::to_string(i) + ")=\"" + std::string(10, 'a') + "\"");
  big.lines.push_back("n() q $o(x(\"\"),-1)");
  Prepare(MakePackage({big}), {"x", "100", "y"});
  session->options.KeepSources = true;
  ASSERT_EQ(session->options.ChunkLimit, 100);
  ASSERT_TRUE(Install());
  const auto fills = TranscriptWith("s text(P1)=P2");
  EXPECT_GT(fills.size(), 10u);
  EXPECT_EQ(Query("$ZVERSION").empty(), false);
  for (std::size_t i = 0; i < big.lines.size(); ++i) {
    EXPECT_EQ(Query("$T(+" + std::to_string(i + 1) + "^VLBIG)"), big.lines[i]) << i;
  }
  EXPECT_EQ(Query("$T(+" + std::to_string(big.lines.size() + 1) + "^VLBIG)"), "");
}

TEST_F(InstallTest, EstimatesAfterTwentyAndFortyRoutines) {
  std::vector<TestRoutine> routines;
  for (int i = 0; i < 45; ++i) routines.push_back({"VLR" + std::to_string(i), {"VLR" + std::to_string(i) + " q"}});
  Prepare(MakePackage(routines));
  clock.tickStep = 0;
  ui.onProcessMessages = [&](int) { clock.tick += 1000; };  // one second per routine
  ASSERT_TRUE(Install());
  std::vector<std::string> estimates;
  for (const auto& t : ui.timeTexts) {
    if (!t.empty()) estimates.push_back(t);
  }
  // After 20 routines 19 seconds have passed (the 20th is not yet counted):
  // 25 left x (19000 div 20) ms; after 40: 5 x (39000 div 40) ms.
  ASSERT_EQ(estimates.size(), 2u);
  EXPECT_EQ(estimates[0], Ru("Осталось ") + FormatLongTime(25 * 950 / 86400000.0));
  EXPECT_EQ(estimates[1], Ru("Осталось ") + FormatLongTime(5 * 975 / 86400000.0));
  EXPECT_TRUE(LogHasInOrder({Ru("В дистрибутиве 45 программ."), "VLR44", Ru("Программы успешно восстановлены.")}));
  EXPECT_EQ(ui.titles.back(), Ru("Установка Тест 1.0. Восстановление программ 100%"));
}

TEST_F(InstallTest, EscThenNoGoesOnAndEscThenYesStops) {
  std::vector<TestRoutine> routines;
  for (int i = 0; i < 6; ++i) routines.push_back({"VLE" + std::to_string(i), {"VLE" + std::to_string(i) + " q"}});
  Prepare(MakePackage(routines));
  ui.onProcessMessages = [&](int n) {
    if (n == 2 || n == 4) session->run.UserAbort = true;
  };
  ui.yesNo = {false, true};
  EXPECT_FALSE(Install());
  EXPECT_EQ(ui.Count("AskYesNo"), 2);
  // "Нет" is the default: a stray Enter does not end the installation.
  EXPECT_EQ(ui.yesNoDefaultsNo, (std::vector<bool>{true, true}));
  // The notice of the request goes before each question; Esc is acknowledged
  // only while the restore looks at it.
  for (std::size_t i = 1; i < ui.calls.size(); ++i) {
    if (ui.calls[i].rfind("AskYesNo", 0) == 0) {
      EXPECT_EQ(ui.calls[i - 1], "ClearAbortNotice");
    }
  }
  const auto on = std::find(ui.calls.begin(), ui.calls.end(), "AcceptAbortRequests:1");
  const auto off = std::find(ui.calls.begin(), ui.calls.end(), "AcceptAbortRequests:0");
  ASSERT_NE(on, ui.calls.end());
  ASSERT_NE(off, ui.calls.end());
  EXPECT_LT(on, std::find(ui.calls.begin(), ui.calls.end(), "ProcessMessages"));
  EXPECT_GT(off, std::find(ui.calls.begin(), ui.calls.end(), "AskYesNo:" + Ru("Прервать установку?")));
  EXPECT_TRUE(LogHasInOrder({"VLE0", "VLE1", "VLE2", "VLE3", Ru("Установка прервана пользователем.")}));
  EXPECT_FALSE(LogHasInOrder({"VLE4"}));
  EXPECT_EQ(Query("$D(^rOBJ(\"VLE3\"))"), "1");
  EXPECT_EQ(Query("$D(^rOBJ(\"VLE4\"))"), "0");
}

TEST_F(InstallTest, ServerKilledDuringTheRestoreEndsTheRunCleanly) {
  std::vector<TestRoutine> routines;
  for (int i = 0; i < 10; ++i) routines.push_back({"VLK" + std::to_string(i), {"VLK" + std::to_string(i) + " q"}});
  Prepare(MakePackage(routines));
  ui.onProcessMessages = [&](int n) {
    if (n == 3) server->Kill();
  };
  EXPECT_FALSE(Install());
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back().rfind(Ru("Ошибка при восстановлении программы в Cache") + Ru("Код ошибки: "), 0), 0u);
  EXPECT_TRUE(LogHasInOrder({"VLK3", Ru("Ошибка GUI приложения. Ошибка при заполнении массива: Operation aborted"),
                             Ru("Время окончания установки: 12:00:00")}));
  EXPECT_FALSE(LogHasInOrder({Ru("Файл данных испорчен")}));
  const auto written = WriteLogFile(session->log, session->files.LogPath, session->files.FallbackFolder);
  EXPECT_TRUE(written.written);
}

TEST_F(InstallTest, ABadRoutineNameIsADamagedFileAndNothingIsSent) {
  // The packer refuses such a name, so the file is made with a plain key and
  // the name put in afterwards; the integrity marker, which would refuse
  // the changed file at once, is taken out as if another packer wrote it.
  auto package = MakePackage({{"VLOK", {"VLOK q"}}, {"VLBAD", {" q"}}});
  package.key = 0;
  bool edited = false;
  Prepare(package, {}, [&](std::string& bytes) {
    const auto at = bytes.find("VLBAD\n");
    const auto marker = bytes.find("VMSEAL:");
    if (at == std::string::npos || marker == std::string::npos) return;
    bytes.replace(at, 5, "X\") k ^A");
    bytes.erase(marker, bytes.find('\r', marker) - marker);
    edited = true;
  });
  ASSERT_TRUE(edited);

  EXPECT_FALSE(Install());
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back(), Ru("Файл данных испорчен"));
  EXPECT_TRUE(LogHasInOrder({"VLOK", Ru("Файл данных испорчен")}));
  LetTheLinkCatchUp();
  for (const auto& line : server->TranscriptLines()) EXPECT_EQ(line.find("k ^A"), std::string::npos) << line;
}

TEST_F(InstallTest, WrongServerAddressAndEmptyFields) {
  Prepare(MakePackage(TwoRoutines()));
  ConnectOutcome c = ConnectToServer(*session, "127.0.0.1", "    ");
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(ui.messages.back(), Ru("Параметры соединения должны быть указаны"));
  const std::size_t logSize = session->log.Lines().size();
  c = ConnectToServer(*session, " 127.0. 0.1 ", std::to_string(FreeLoopbackPort()));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(ui.messages.back(),
            Ru("Не удается создать соединение с Cache сервером. Попробуйте задать другие параметры"));
  EXPECT_EQ(session->log.Lines()[logSize + 3], Ru("IP адрес:127.0.0.1"));
  EXPECT_EQ(session->log.Lines().back().rfind(Ru("Ошибка соединения. "), 0), 0u);
  // The same session connects once the address is right.
  c = ConnectToServer(*session, "127.0.0.1", std::to_string(server->Port()));
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.namespaces, (std::vector<std::string>{"%CACHELIB", "%SYS", "SAMPLES", "USER"}));
  EXPECT_EQ(c.selected, 3);
}

TEST_F(InstallTest, LabelsThatAreNotEntryReferencesStopTheInstallationBeforeAnythingRuns) {
  auto package = MakePackage(TwoRoutines());
  dorpack::PostActionSpec good, bad;
  good.description.bytes = "ok";
  good.label.bytes = "go^VLRA";
  bad.description.bytes = "bad";
  bad.label.bytes = "x^VLRA";
  package.postActions = {good, bad};
  // The packer refuses such a label, so it is put in afterwards (with a
  // plain key), and the integrity marker, which would refuse the edit, is
  // taken out: a file of another packer.
  package.key = 0;
  bool edited = false;
  Prepare(package, {}, [&](std::string& bytes) {
    const auto at = bytes.find("x^VLRA@");
    if (at == std::string::npos) return;
    bytes.replace(at, 6, "x^VLRA s ^INJ=1");
    const auto marker = bytes.find("VMSEAL:");
    bytes.erase(marker, bytes.find('\r', marker) - marker);
    edited = true;
  });
  ASSERT_TRUE(edited);
  EXPECT_FALSE(Install());
  EXPECT_EQ(session->reader.Damage(), Ru("последействие 2 нельзя выполнить (причина — в протоколе установки)"));
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back(), Ru("Ошибка в структуре дистрибутива"));
  EXPECT_TRUE(LogHasInOrder({Ru("Ошибка в структуре дистрибутива: последействие 2 (x^VLRA s ^INJ=1)")}));
  EXPECT_TRUE(TranscriptWith("s text(P1)=P2").empty());
  EXPECT_EQ(Query("$D(^INJ)"), "0");
}

TEST_F(InstallTest, ALibraryDistributionGoesIntoTheLibraryNamespaceAndServesEveryOne) {
  settings.values["NS"] = "USER";
  Prepare(MakePackage({{"%VLLIB", {"%VLLIB ;library", "f() q \"lib\""}}}));
  const ConnectOutcome c = ConnectToServer(*session, "127.0.0.1", std::to_string(server->Port()));
  ASSERT_TRUE(c.ok);
  ASSERT_TRUE(c.library);
  EXPECT_EQ(c.namespaces[static_cast<std::size_t>(c.selected)], "%CACHELIB");
  EXPECT_EQ(c.libraryNotice, Ru("Дистрибутив содержит библиотечные программы.") + "\r\n" +
                                 Ru("Установка будет производиться в библиотечную") + "\r\n" + Ru("область %CACHELIB"));
  std::vector<std::string> summary;
  ASSERT_TRUE(SwitchToNamespace(*session, {"%CACHELIB", false, false, false}, summary));
  ASSERT_TRUE(RunInstallation(*session)) << (ui.messages.empty() ? "" : Cp1251ToUtf8(ui.messages.back()));
  EXPECT_EQ(Query("$$f^%VLLIB", "USER"), "lib");
  EXPECT_EQ(Query("$$f^%VLLIB", "SAMPLES"), "lib");
  EXPECT_EQ(Query("$T(f^%VLLIB)", "USER"), "");  // installed without its source
  EXPECT_EQ(settings.values["NS"], "%CACHELIB");
}

TEST_F(InstallTest, AServerThatAnnouncesOtherParametersChangesTheFields) {
  server = std::make_unique<MServerProcess>(MSERVER_BINARY, std::vector<std::string>{"--advertise", "localhost:1"});
  Prepare(MakePackage(TwoRoutines()));
  const ConnectOutcome c = ConnectToServer(*session, "127.0.0.1", std::to_string(server->Port()));
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.ipField, "localhost");
  EXPECT_EQ(c.portField, "1");
  EXPECT_EQ(session->connection.IP, "localhost");
  EXPECT_TRUE(LogHasInOrder({Ru("Параметры соединения были изменены пользователем."), Ru("Новые параметры соединения:"),
                             Ru("IP адрес:localhost"), Ru("Порт:1"), Ru("Область:%SYS"), "",
                             Ru("Успешное соединение с областью %SYS")}));
}

// A server reached through a port forward announces nothing: the fields
// keep what the user typed, and the log reports no change of parameters.
TEST_F(InstallTest, AServerBehindAPortForwardKeepsTheFieldsAsTyped) {
  Prepare(MakePackage(TwoRoutines()));
  PortForward forward(server->Port());
  const std::string port = std::to_string(forward.Port());
  const ConnectOutcome c = ConnectToServer(*session, "127.0.0.1", port);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.ipField, "127.0.0.1");
  EXPECT_EQ(c.portField, port);
  EXPECT_EQ(session->connection.Port, port);
  for (const std::string& line : session->log.Lines()) {
    EXPECT_EQ(line.find(Ru("Параметры соединения были изменены")), std::string::npos) << Cp1251ToUtf8(line);
  }
  EXPECT_TRUE(LogHasInOrder({Ru("Успешное соединение с областью %SYS")}));
}

}  // namespace
}  // namespace dorvik::testing
