// The wizard model without a window: the page flows, the keys, the exit on
// every page, the option boxes with their rules, the server steps with
// their failures, and the end of the program.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "distribution/codepage.h"
#include "distribution/install_log.h"
#include "model_fixture.h"

namespace dorvik::testing {
namespace {

TEST_F(ModelTest, StartUpFillsTheWelcomePage) {
  settings.values["IP"] = "10.0.0.7";
  settings.values["Port"] = "5633";
  Start();
  EXPECT_EQ(model->WindowTitle(), "Velmora Installation Wizard 2.9");
  EXPECT_EQ(model->BackgroundTitle(), Ru("Склад 3.1"));
  EXPECT_EQ(model->CurrentPage(), Page::tsMain);
  EXPECT_EQ(model->ProductInfoLines(),
            (std::vector<std::string>{Ru("Эта программа установит: Склад 3.1. "), Ru("Сборка: 08.12.2026")}));
  EXPECT_EQ(model->FieldText(Field::edIP), "10.0.0.7");
  EXPECT_EQ(model->FieldText(Field::mePort), "5633");
  EXPECT_EQ(model->TakeFocusRequest(), "bt0go");
  EXPECT_EQ(model->TakeFocusRequest(), "");  // taken once
  EXPECT_TRUE(front.prompts.empty());
  EXPECT_EQ(front.terminations, 0);
  EXPECT_GT(front.refreshes, 0);
  // Start-up needs no server.
  EXPECT_EQ(watch.calls, 0);
}

// Each row: the licence file (none, empty, a text), the actions, and the
// page after each with the control that takes the focus.
TEST_F(ModelTest, PageFlows) {
  struct Step {
    Action action;
    Page page;
    const char* focus;
  };
  struct Case {
    std::optional<std::string> licence;
    std::vector<Step> steps;
    std::vector<std::string> licenceLines;
  };
  const Case cases[] = {
      {std::nullopt,
       {{Action::act0go, Page::tsParams, "bt2Go"},
        {Action::act2Back, Page::tsMain, "bt0go"},
        {Action::act0go, Page::tsParams, "bt2Go"}},
       {}},
      // The licence takes the focus when it is first shown, so Page Down
      // scrolls it at once; its page has no default button.
      {std::string("Лицензия\r\nПункт 1.\r\n"),
       {{Action::act0go, Page::tsLicence, "mmLicence"},
        {Action::act1Back, Page::tsMain, "bt0go"},
        {Action::act0go, Page::tsLicence, "mmLicence"},
        {Action::act1Yes, Page::tsParams, "bt2Go"},
        {Action::act2Back, Page::tsLicence, ""}},
       {Ru("Лицензия"), Ru("Пункт 1.")}},
      {std::string(), {{Action::act0go, Page::tsLicence, "mmLicence"}, {Action::act1Yes, Page::tsParams, "bt2Go"}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.licence ? "licence \"" + *c.licence + "\"" : "no licence");
    TearDown();
    SetUp();
    Start(c.licence);
    EXPECT_EQ(model->LicencePresent(), c.licence.has_value());
    EXPECT_EQ(model->LicenceLines(), c.licenceLines);
    for (const Step& step : c.steps) {
      model->Trigger(step.action);
      EXPECT_EQ(model->CurrentPage(), step.page) << ActionName(step.action);
      EXPECT_EQ(model->TakeFocusRequest(), step.focus) << ActionName(step.action);
    }
  }
}

// Enter on every page: the focused button's action, else the page's
// default; Esc only on the welcome page.
TEST_F(ModelTest, EnterAndEscOnEveryPage) {
  struct Case {
    Page page;
    std::optional<Action> enter;  // the focus on no button
    std::optional<Action> esc;
  };
  const Case cases[] = {
      {Page::tsMain, Action::act0go, Action::actExit},      {Page::tsLicence, std::nullopt, std::nullopt},
      {Page::tsParams, Action::act2go, std::nullopt},       {Page::tsNS, Action::act25go, std::nullopt},
      {Page::tsInstall, Action::act3Install, std::nullopt}, {Page::tsFinal, Action::actFin, std::nullopt},
  };
  Start(std::string("Лицензия"));
  for (const Case& c : cases) {
    SCOPED_TRACE(PageName(c.page));
    Reach(c.page);
    EXPECT_EQ(model->EnterAction(std::nullopt), c.enter);
    EXPECT_EQ(model->EscAction(), c.esc);
    for (const ButtonSpec& button : PageLayout(c.page).buttons) {
      EXPECT_EQ(model->EnterAction(button.action), button.action) << button.name;
    }
  }
}

// Closing the wizard acts as "Отмена" on every page: the exit dialog
// decides, and the window itself never closes.
TEST_F(ModelTest, CloseQueryAsksOnEveryPage) {
  Start(std::string("Лицензия"));
  std::vector<Page> pages = {Page::tsMain, Page::tsLicence, Page::tsParams, Page::tsNS, Page::tsInstall, Page::tsFinal};
  for (Page page : pages) {
    SCOPED_TRACE(PageName(page));
    Reach(page);
    front.prompts.clear();
    front.answers = {Yes()};  // "Продолжить"
    EXPECT_FALSE(model->CloseQuery());
    ASSERT_EQ(front.prompts.size(), 1u);
    EXPECT_EQ(front.prompts[0].kind, PromptKind::Exit);
    EXPECT_EQ(model->CurrentPage(), page);
    EXPECT_EQ(front.terminations, 0);
  }
  // "Выход" (or the dialog's own close button) ends the program; the
  // wizard window still does not close by itself.
  front.answers = {No()};
  EXPECT_FALSE(model->CloseQuery());
  EXPECT_EQ(front.terminations, 1);
  EXPECT_TRUE(model->ExitDone());
}

TEST_F(ModelTest, SourcePasswordDecidesTheTick) {
  struct Case {
    const char* what;
    Answer answer;
    bool ticked;
  };
  const Case cases[] = {
      {"cancelled with the right text", Typed("Пароль7", false), false},
      {"other letter case", Typed("пароль7"), false},
      {"empty", Typed(""), false},
      {"a character the code page lacks", Answer{true, std::nullopt}, false},
      {"a longer text", Typed("Пароль77"), false},
      {"the password", Typed("Пароль7"), true},
  };
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    front.prompts.clear();
    front.answers = {c.answer};
    model->Click(Check::chSPass, true);
    ASSERT_EQ(front.prompts.size(), 1u);
    EXPECT_EQ(front.prompts[0].kind, PromptKind::Password);
    EXPECT_EQ(model->Ticked(Check::chSPass), c.ticked);
  }
  // Unticking asks nothing.
  front.prompts.clear();
  model->Click(Check::chSPass, false);
  EXPECT_TRUE(front.prompts.empty());
  EXPECT_FALSE(model->Ticked(Check::chSPass));
}

// Both boxes ask twice, "Нет" the default each time; only two Yes keep
// the tick.
TEST_F(ModelTest, DoubleConfirmations) {
  struct Box {
    Check check;
    const char* first;
    const char* second;
  };
  const Box boxes[] = {
      {Check::chNoRestore, "Не восстанавливать программы дистрибутива?",
       "Вы уверены, что не нужно восстанавливать программы?"},
      {Check::chNoAfter, "Не выполнять метки последействия?", "Вы уверены, что не нужно выполнять последействия?"},
  };
  struct Answers {
    std::deque<Answer> given;
    std::size_t asked;
    bool ticked;
  };
  const Answers answers[] = {{{Yes(), No()}, 2, false}, {{No()}, 1, false}, {{Yes(), Yes()}, 2, true}};
  Start();
  Reach(Page::tsNS);
  for (const Box& box : boxes) {
    for (const Answers& a : answers) {
      SCOPED_TRACE(std::string(CheckName(box.check)) + " answered " + std::to_string(a.given.size()) + " times");
      front.prompts.clear();
      front.answers = a.given;
      model->Click(box.check, true);
      ASSERT_EQ(front.prompts.size(), a.asked);
      const std::vector<std::string> expected = {Ru(box.first), Ru(box.second)};
      for (std::size_t i = 0; i < a.asked; ++i) {
        EXPECT_EQ(front.prompts[i].kind, PromptKind::YesNo);
        EXPECT_TRUE(front.prompts[i].defaultNo);
        EXPECT_EQ(front.prompts[i].text, expected[i]);
      }
      EXPECT_EQ(model->Ticked(box.check), a.ticked);
    }
  }
  // The ticks stay when the user goes back and forth, and take effect
  // when the namespace page is left forward.
  model->Trigger(Action::act25back);
  model->Trigger(Action::act2go);
  EXPECT_TRUE(model->Ticked(Check::chNoRestore));
  EXPECT_TRUE(model->Ticked(Check::chNoAfter));
  model->Trigger(Action::act25go);
  ASSERT_EQ(model->CurrentPage(), Page::tsInstall);
  EXPECT_FALSE(session->options.RestoreRoutines);
  EXPECT_FALSE(session->options.RunPostActions);
  const auto& summary = model->SettingsLines();
  EXPECT_NE(std::find(summary.begin(), summary.end(), Ru("          не восстанавливать программы")), summary.end());
  EXPECT_NE(std::find(summary.begin(), summary.end(), Ru("          последействия НЕ ВЫПОЛНЯТЬ")), summary.end());
}

TEST_F(ModelTest, ConnectionFillsTheNamespacePage) {
  settings.values["NS"] = "user";
  Start();
  Reach(Page::tsNS);
  EXPECT_EQ(front.serverSteps, 1);
  const auto& names = model->Namespaces();
  ASSERT_NE(std::find(names.begin(), names.end(), "USER"), names.end());
  ASSERT_GE(model->SelectedNamespace(), 0);
  EXPECT_EQ(names[static_cast<std::size_t>(model->SelectedNamespace())], "USER");  // the registry's, any case
  EXPECT_FALSE(model->LibraryMode());
  EXPECT_EQ(model->TakeFocusRequest(), "Button2");
  model->Trigger(Action::act25go);
  ASSERT_EQ(model->CurrentPage(), Page::tsInstall);
  EXPECT_EQ(model->SettingsLines().at(0), Ru("Устанавливаемый продукт:"));
  EXPECT_EQ(model->SettingsLines().at(1), Ru("          Склад 3.1"));
  EXPECT_EQ(model->SettingsLines().at(5), "          USER");
}

// A library distribution: the list gives way to the notice, and the
// namespace is the library's when the server has it, else the first one;
// "%" as the second argument turns the test off.
TEST_F(ModelTest, LibraryDistribution) {
  struct Case {
    const char* what;
    bool serverHasLibrary;
    std::vector<std::string> args;
    bool library;
    std::string target;
  };
  const Case cases[] = {
      {"library namespace present", true, {}, true, "%CACHELIB"},
      {"no library namespace", false, {}, true, "%SYS"},
      {"test turned off", true, {"q", "%"}, false, "USER"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    if (c.serverHasLibrary) host->AddNamespace("%CACHELIB");
    Start(std::nullopt, c.args, true, true);
    Reach(Page::tsNS);
    EXPECT_EQ(model->LibraryMode(), c.library);
    ASSERT_GE(model->SelectedNamespace(), 0);
    EXPECT_EQ(model->Namespaces()[static_cast<std::size_t>(model->SelectedNamespace())], c.target);
    const std::vector<std::string> notice = {Ru("Дистрибутив содержит библиотечные программы."),
                                             Ru("Установка будет производиться в библиотечную"),
                                             Ru("область ") + c.target};
    EXPECT_EQ(model->LibraryNoticeLines(), c.library ? notice : std::vector<std::string>{});
    model->Trigger(Action::act25go);
    ASSERT_EQ(model->CurrentPage(), Page::tsInstall);
    EXPECT_EQ(model->SettingsLines().at(5), "          " + c.target);
  }
}

// What the connection page refuses before any server call, and what the
// namespace page refuses.
TEST_F(ModelTest, StepsRefusedBeforeTheServer) {
  Start();
  Reach(Page::tsParams);
  model->SetFieldText(Field::edIP, std::nullopt);  // a character code page 1251 lacks
  model->Trigger(Action::act2go);
  EXPECT_EQ(PromptTexts(), std::vector<std::string>{Ru("Параметры соединения должны быть указаны")});
  EXPECT_EQ(front.serverSteps, 0);
  EXPECT_EQ(model->CurrentPage(), Page::tsParams);

  // A readable text again; a blank port is the connection step's refusal.
  model->SetFieldText(Field::edIP, "127.0.0.1");
  model->SetFieldText(Field::mePort, "  ");
  model->Trigger(Action::act2go);
  EXPECT_EQ(model->CurrentPage(), Page::tsParams);
  EXPECT_EQ(ui.messages, std::vector<std::string>{Ru("Параметры соединения должны быть указаны")});

  model->SetFieldText(Field::mePort, "1972");
  model->Trigger(Action::act2go);
  ASSERT_EQ(model->CurrentPage(), Page::tsNS);
  front.prompts.clear();
  model->SelectNamespace(-1);
  model->Trigger(Action::act25go);
  EXPECT_EQ(PromptTexts(), std::vector<std::string>{Ru("Выберите область")});
  EXPECT_EQ(model->CurrentPage(), Page::tsNS);
  model->SelectNamespace(static_cast<int>(model->Namespaces().size()));  // past the list: no choice
  EXPECT_EQ(model->SelectedNamespace(), -1);
}

// A failure that a server step does not handle itself is logged and shown
// like any failure of the application; the installation counts as failed.
TEST_F(ModelTest, UnexpectedFailureOfAServerStep) {
  Start();
  Reach(Page::tsInstall);
  ui.calls.clear();
  watch.failNext = true;  // the journal switch, before the driver's own guard
  model->Trigger(Action::act3Install);
  const std::string line = AppFailureLine("the client stopped answering");
  ASSERT_FALSE(front.prompts.empty());
  EXPECT_EQ(front.prompts.back().kind, PromptKind::Message);
  EXPECT_EQ(front.prompts.back().text, line);
  EXPECT_EQ(session->log.Lines().back(), line);
  const auto closed = std::find(ui.calls.begin(), ui.calls.end(), "CloseProgress");
  ASSERT_NE(closed, ui.calls.end());
  EXPECT_NE(std::find(closed, ui.calls.end(), "ShowWizard"), ui.calls.end());
  EXPECT_EQ(model->CurrentPage(), Page::tsFinal);
  EXPECT_FALSE(model->Succeeded());
}

// A link that fails while connecting: the step says so and the wizard
// stays on the connection page; the next attempt works.
TEST_F(ModelTest, FailedConnectionStaysOnItsPage) {
  Start();
  Reach(Page::tsParams);
  watch.failNext = true;
  model->Trigger(Action::act2go);
  EXPECT_EQ(model->CurrentPage(), Page::tsParams);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"the client stopped answering"});
  model->Trigger(Action::act2go);
  EXPECT_EQ(model->CurrentPage(), Page::tsNS);
}

TEST_F(ModelTest, UnreadableDistributionEndsTheProgram) {
  Start(std::nullopt, {}, false);
  ASSERT_EQ(front.prompts.size(), 1u);
  EXPECT_EQ(front.prompts[0].kind, PromptKind::Message);
  EXPECT_EQ(front.prompts[0].text, Ru("Ошибка инициализации установщика\n\nФайл дистрибутива не найден."));
  EXPECT_EQ(front.prompts[0].file, dir / "dorpack.dat");
  EXPECT_TRUE(front.prompts[0].file.is_absolute());
  EXPECT_EQ(front.terminations, 1);
  EXPECT_FALSE(model->HeaderRead());
  EXPECT_EQ(model->CurrentPage(), Page::tsMain);
}

// A whole installation through the model, the end of the program, and the
// protocol written once.
TEST_F(ModelTest, InstallationAndExit) {
  Start();
  Reach(Page::tsFinal);
  EXPECT_TRUE(model->Succeeded());
  EXPECT_EQ(front.serverSteps, 3);
  EXPECT_EQ(ui.calls.back(), "ShowWizard");
  // Every server call was made on the thread that created the link.
  EXPECT_GT(watch.calls, 0);
  EXPECT_EQ(watch.foreignCalls, 0);
  EXPECT_EQ(model->EnterAction(std::nullopt), Action::actFin);

  ui.calls.clear();
  model->Trigger(Action::actFin);
  EXPECT_EQ(front.terminations, 1);
  EXPECT_TRUE(front.prompts.empty());  // leaving asks nothing
  EXPECT_EQ(ui.calls,
            (std::vector<std::string>{"SetStage:" + Ru("Выход из программы установки..."), "SetAnimation:0",
                                      "SetElement", "SetProgressHeight:80", "ShowProgress", "RefreshProgress"}));

  model->Click(Check::chProtocol, true);
  const std::optional<ProtocolToShow> shown = model->FormDestroy();
  ASSERT_TRUE(shown.has_value());
  EXPECT_EQ(shown->file, dir / "dorvik.txt");
  EXPECT_EQ(shown->workingFolder, dir);
  std::ifstream in(shown->file, std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(log.find(Ru("Продолжительность установки: ")), std::string::npos);
  EXPECT_FALSE(model->FormDestroy().has_value());  // once only
  EXPECT_FALSE(std::filesystem::exists(dir / "dorvik1.txt"));
}

TEST_F(ModelTest, ProtocolNotAskedForIsOnlyWritten) {
  Start();
  EXPECT_FALSE(model->FormDestroy().has_value());
  EXPECT_TRUE(std::filesystem::exists(dir / "dorvik.txt"));
}

}  // namespace
}  // namespace dorvik::testing
