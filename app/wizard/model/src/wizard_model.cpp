#include "wizard_model/wizard_model.h"

#include <utility>

#include "app/driver.h"
#include "app/log_file.h"
#include "app/startup.h"
#include "distribution/codepage.h"
#include "engine/connection.h"

namespace dorvik {

namespace {

Prompt Message(std::string text, std::filesystem::path file = {}) {
  Prompt prompt;
  prompt.kind = PromptKind::Message;
  prompt.text = std::move(text);
  prompt.file = std::move(file);
  return prompt;
}

// The notice brings its own line breaks (CR LF or LF).
std::vector<std::string> NoticeLines(const std::string& notice) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : notice) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty() || lines.empty()) lines.push_back(std::move(line));
  return lines;
}

}  // namespace

WizardModel::WizardModel(Session& session, WizardFrontEnd& frontEnd) : s_(session), front_(frontEnd) {
  const PageSpec& params = PageLayout(Page::tsParams);
  fields_[static_cast<int>(Field::edIP)] = params.FindControl("edIP")->text;
  fields_[static_cast<int>(Field::mePort)] = params.FindControl("mePort")->text;
  productInfo_ = {PageLayout(Page::tsMain).FindControl("mmProductInfo")->text};
}

std::string WizardModel::WindowTitle() const { return std::string(kWizardTitle) + " " + kInstallerVersion; }

std::string WizardModel::BackgroundTitle() const { return s_.dist.ProductName + " " + s_.dist.Version; }

const std::string& WizardModel::FieldText(Field field) const { return fields_[static_cast<int>(field)]; }

std::string WizardModel::TakeFocusRequest() { return std::exchange(focus_, std::string()); }

void WizardModel::FormCreate(const std::vector<std::string>& args) {
  const StartupResult start = StartSession(s_, args);
  licencePresent_ = start.licencePresent;
  headerRead_ = start.headerRead;
  fields_[static_cast<int>(Field::edIP)] = s_.connection.IP;
  fields_[static_cast<int>(Field::mePort)] = s_.connection.Port;
  fieldsReadable_ = {true, true};
  if (licencePresent_) licence_ = start.licenceLines;
  if (!headerRead_) {
    // The fixed first line, then what went wrong, then the file's full path.
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(s_.files.DataFilePath, ec);
    front_.Ask(
        Message(Ru("Ошибка инициализации установщика\n\n") + start.headerFailure, ec ? s_.files.DataFilePath : file));
    front_.Terminate();
  }
  productInfo_ = {PageLayout(Page::tsMain).FindControl("mmProductInfo")->text + BackgroundTitle() + ". ",
                  Ru("Сборка: ") + s_.dist.BuildDate};
  ShowPage(Page::tsMain);
}

std::optional<ProtocolToShow> WizardModel::FormDestroy() {
  if (destroyed_) return std::nullopt;
  destroyed_ = true;
  try {
    const LogFileResult written = WriteLogFile(s_.log, s_.files.LogPath, s_.files.FallbackFolder);
    if (written.written && Ticked(Check::chProtocol)) {
      return ProtocolToShow{written.path, written.usedFallback ? s_.files.FallbackFolder : s_.files.ProgramFolder};
    }
  } catch (const std::exception&) {
    // The program is ending; a protocol that cannot be written is lost
    // without a message, as when both folders refuse it.
  }
  return std::nullopt;
}

void WizardModel::SetFieldText(Field field, std::optional<std::string> text) {
  const int i = static_cast<int>(field);
  fieldsReadable_[i] = text.has_value();
  fields_[i] = text ? std::move(*text) : std::string();
}

void WizardModel::SelectNamespace(int row) {
  selected_ = row >= 0 && row < static_cast<int>(namespaces_.size()) ? row : -1;
}

void WizardModel::Click(Check check, bool ticked) {
  ticks_[static_cast<int>(check)] = ticked;
  // The rules run only when the user has just ticked a box.
  if (const std::optional<Action> rule = ActionOfCheck(check); rule && ticked) Trigger(*rule);
}

void WizardModel::Untick(Check check) {
  ticks_[static_cast<int>(check)] = false;
  front_.Refresh();
}

void WizardModel::Trigger(Action action) {
  switch (action) {
    case Action::act0go:
      return act0goExecute();
    case Action::act1Yes:
      return act1YesExecute();
    case Action::act1Back:
      return act1BackExecute();
    case Action::act2Back:
      return act2BackExecute();
    case Action::act2go:
      return act2goExecute();
    case Action::act25back:
      return act25backExecute();
    case Action::act25go:
      return act25goExecute();
    case Action::act3back:
      return act3backExecute();
    case Action::act3Install:
      return act3InstallExecute();
    case Action::actFin:
      return actFinExecute();
    case Action::actExit:
      return actExitExecute();
    case Action::actSoPass:
      return actSoPassExecute();
    case Action::actNoRes:
      return actNoResExecute();
    case Action::actNoAfter:
      return actNoAfterExecute();
  }
}

std::optional<Action> WizardModel::EnterAction(std::optional<Action> focusedButton) const {
  if (focusedButton) return focusedButton;
  if (const ButtonSpec* button = PageLayout(page_).DefaultButton()) return button->action;
  return std::nullopt;
}

std::optional<Action> WizardModel::EscAction() const {
  if (page_ == Page::tsMain) return Action::actExit;
  return std::nullopt;
}

// Closing the wizard is the same as "Отмена": the exit dialog decides, and
// the window itself never closes this way.
bool WizardModel::CloseQuery() {
  actExitExecute();
  return !exitDone_;
}

void WizardModel::ShowPage(Page page, std::string focus) {
  page_ = page;
  if (focus.empty()) {
    if (const ButtonSpec* button = PageLayout(page).DefaultButton()) focus = button->name;
  }
  focus_ = std::move(focus);
  front_.Refresh();
}

bool WizardModel::RunServerStep(const std::function<void()>& step) {
  try {
    front_.RunOnLinkThread(step);
    return true;
  } catch (const std::exception& e) {
    // A failure the step did not handle itself: reported like any failure
    // of the application, and the wizard stays where it was.
    const std::string line = AppFailureLine(e.what());
    s_.log.Add(line);
    s_.ui.CloseProgress();
    s_.ui.ShowWizard();
    front_.Ask(Message(line));
    return false;
  }
}

void WizardModel::act0goExecute() {
  if (licencePresent_) {
    ShowPage(Page::tsLicence, "mmLicence");
  } else {
    ShowPage(Page::tsParams);
  }
}

void WizardModel::act1YesExecute() { ShowPage(Page::tsParams); }
void WizardModel::act1BackExecute() { ShowPage(Page::tsMain); }
void WizardModel::act2BackExecute() { ShowPage(licencePresent_ ? Page::tsLicence : Page::tsMain); }
void WizardModel::act25backExecute() { ShowPage(Page::tsParams); }
void WizardModel::act3backExecute() { ShowPage(Page::tsNS); }

void WizardModel::act2goExecute() {
  if (!fieldsReadable_[0] || !fieldsReadable_[1]) {
    front_.Ask(Message(Ru("Параметры соединения должны быть указаны")));
    return;
  }
  const std::string ip = FieldText(Field::edIP);
  const std::string port = FieldText(Field::mePort);
  ConnectOutcome outcome;
  if (!RunServerStep([&] { outcome = ConnectToServer(s_, ip, port); })) return;
  fields_[static_cast<int>(Field::edIP)] = outcome.ipField;
  fields_[static_cast<int>(Field::mePort)] = outcome.portField;
  if (!outcome.ok) {
    front_.Refresh();
    return;
  }
  namespaces_ = outcome.namespaces;
  SelectNamespace(outcome.selected);
  // A library distribution goes into the namespace chosen here: the list
  // and its caption are hidden and the list takes no choice.
  library_ = outcome.library;
  libraryNotice_ = library_ ? NoticeLines(outcome.libraryNotice) : std::vector<std::string>{};
  ShowPage(Page::tsNS);
}

void WizardModel::act25goExecute() {
  if (selected_ < 0) {
    front_.Ask(Message(Ru("Выберите область")));
    return;
  }
  NamespaceChoice choice;
  choice.ns = namespaces_[static_cast<std::size_t>(selected_)];
  choice.keepSources = Ticked(Check::chSPass);
  choice.noRestore = Ticked(Check::chNoRestore);
  choice.noAfter = Ticked(Check::chNoAfter);
  std::vector<std::string> summary;
  bool switched = false;
  if (!RunServerStep([&] { switched = SwitchToNamespace(s_, choice, summary); })) return;
  if (!switched) return;
  settings_ = std::move(summary);
  ShowPage(Page::tsInstall);
}

void WizardModel::act3InstallExecute() {
  bool succeeded = false;
  RunServerStep([&] { succeeded = RunInstallation(s_); });  // false on a failure
  succeeded_ = succeeded;
  s_.ui.ShowWizard();
  ShowPage(Page::tsFinal);
}

void WizardModel::actFinExecute() {
  front_.Terminate();
  // Shown while the program shuts down and writes its protocol.
  s_.ui.SetStage(Ru("Выход из программы установки..."));
  s_.ui.SetAnimation(Animation::None);
  s_.ui.SetElement("");
  s_.ui.SetProgressHeight(kProgressCompact);
  s_.ui.ShowProgress();
  s_.ui.RefreshProgress();
}

void WizardModel::actExitExecute() {
  Prompt exit;
  exit.kind = PromptKind::Exit;
  if (!front_.Ask(exit).accepted) front_.Terminate();
  exitDone_ = true;
}

void WizardModel::actSoPassExecute() {
  Prompt password;
  password.kind = PromptKind::Password;
  const Answer typed = front_.Ask(password);
  // The password is never empty, so an empty text never matches; a text
  // with a character the code page lacks cannot match either.
  const bool confirmed = typed.accepted && typed.text && !typed.text->empty() && *typed.text == s_.dist.SourcePassword;
  if (!confirmed) Untick(Check::chSPass);
}

bool WizardModel::ConfirmTwice(const char* question, const char* confirmation) {
  Prompt ask;
  ask.kind = PromptKind::YesNo;
  ask.defaultNo = true;
  ask.text = Ru(question);
  if (!front_.Ask(ask).accepted) return false;
  ask.text = Ru(confirmation);
  return front_.Ask(ask).accepted;
}

void WizardModel::actNoResExecute() {
  if (!ConfirmTwice("Не восстанавливать программы дистрибутива?",
                    "Вы уверены, что не нужно восстанавливать программы?")) {
    Untick(Check::chNoRestore);
  }
}

void WizardModel::actNoAfterExecute() {
  if (!ConfirmTwice("Не выполнять метки последействия?", "Вы уверены, что не нужно выполнять последействия?")) {
    Untick(Check::chNoAfter);
  }
}

}  // namespace dorvik
