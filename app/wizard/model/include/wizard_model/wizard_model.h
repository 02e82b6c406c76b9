// The wizard without its windows: which of the six pages is shown, what its
// fields, lists, boxes and texts hold, the actions act0go … actFin with
// their handlers, the rules behind the option boxes and the exit, and the
// calls into the installation core. A front end draws this state, forwards
// the user's clicks, keys and typing, and answers the prompts the model
// puts to it (front_end.h).
//
// Usage (a front end):
//   WizardModel model(session, frontEnd);
//   model.FormCreate(args);            // start-up; the welcome page
//   ... show the wizard, run the message loop ...
//   button clicked   -> model.Trigger(button.action)
//   Enter / Esc      -> model.EnterAction(...) / model.EscAction()
//   box clicked      -> model.Click(check, ticked)
//   field edited     -> model.SetFieldText(field, text)
//   list selection   -> model.SelectNamespace(row)
//   title-bar close  -> model.CloseQuery()
//   at exit          -> model.FormDestroy()
//
// Threads: every member runs on the interface thread. The server steps
// hand their calls to the front end's RunOnLinkThread; while one runs, the
// model belongs to that call and the interface thread must not call it.
// All texts are code page 1251.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/session.h"
#include "wizard_model/front_end.h"
#include "wizard_model/pages.h"

namespace dorvik {

// The install protocol written at exit, for the front end to show when the
// user ticked "Просмотреть протокол установки".
struct ProtocolToShow {
  std::filesystem::path file;
  std::filesystem::path workingFolder;
};

class WizardModel {
 public:
  WizardModel(Session& session, WizardFrontEnd& frontEnd);

  // The creation handler without windows: the run's start-up, the fields,
  // the licence, the welcome page's texts; on an unreadable distribution
  // the message and the request to end the program. Ends on the welcome
  // page; the front end then shows the wizard.
  void FormCreate(const std::vector<std::string>& args);

  // Writes the install log; runs once, later calls answer nothing. Answers
  // the protocol to show when it was written and the user asked for it.
  std::optional<ProtocolToShow> FormDestroy();

  // State to draw.
  Page CurrentPage() const { return page_; }
  // "Velmora Installation Wizard 2.9".
  std::string WindowTitle() const;
  // The background's title: product and version.
  std::string BackgroundTitle() const;
  bool LicencePresent() const { return licencePresent_; }
  bool HeaderRead() const { return headerRead_; }
  const std::vector<std::string>& ProductInfoLines() const { return productInfo_; }
  const std::vector<std::string>& LicenceLines() const { return licence_; }
  const std::vector<std::string>& SettingsLines() const { return settings_; }
  const std::string& FieldText(Field field) const;
  const std::vector<std::string>& Namespaces() const { return namespaces_; }
  int SelectedNamespace() const { return selected_; }  // -1: none
  // A library distribution: the list and its caption hidden, the notice shown.
  bool LibraryMode() const { return library_; }
  const std::vector<std::string>& LibraryNoticeLines() const { return libraryNotice_; }
  bool Ticked(Check check) const { return ticks_[static_cast<int>(check)]; }
  // The result page shows mmSuccess when true, mmFailed otherwise.
  bool Succeeded() const { return succeeded_; }
  // The control that takes the focus after the last page change (a button's
  // or a control's name); "" once taken.
  std::string TakeFocusRequest();
  bool ExitDone() const { return exitDone_; }

  // The user's input.
  // `text` is nullopt when the field holds a character code page 1251 lacks.
  void SetFieldText(Field field, std::optional<std::string> text);
  void SelectNamespace(int row);
  // The user clicked a box; ticking one with a rule runs its action, which
  // may untick it again.
  void Click(Check check, bool ticked);
  void Trigger(Action action);

  // The keys. Enter runs the action of the focused button, or else (the
  // focus on a field, the list, a box, a text) the page's default; none on
  // the licence page. Esc runs actExit on the welcome page only.
  std::optional<Action> EnterAction(std::optional<Action> focusedButton) const;
  std::optional<Action> EscAction() const;
  // The wizard's close request (title-bar button, system menu): runs the
  // exit action; answers whether the window may close, which it never does.
  bool CloseQuery();

  // The handlers.
  void act0goExecute();
  void act1YesExecute();
  void act1BackExecute();
  void act2BackExecute();
  void act2goExecute();
  void act25backExecute();
  void act25goExecute();
  void act3backExecute();
  void act3InstallExecute();
  void actFinExecute();
  void actExitExecute();
  void actSoPassExecute();
  void actNoResExecute();
  void actNoAfterExecute();

 private:
  void ShowPage(Page page, std::string focus = {});
  bool RunServerStep(const std::function<void()>& step);
  bool ConfirmTwice(const char* question, const char* confirmation);
  void Untick(Check check);

  Session& s_;
  WizardFrontEnd& front_;
  Page page_ = Page::tsMain;
  bool licencePresent_ = false;
  bool headerRead_ = false;
  std::vector<std::string> productInfo_;
  std::vector<std::string> licence_;
  std::vector<std::string> settings_;
  std::array<std::string, 2> fields_;
  std::array<bool, 2> fieldsReadable_{true, true};
  std::vector<std::string> namespaces_;
  int selected_ = -1;
  bool library_ = false;
  std::vector<std::string> libraryNotice_;
  std::array<bool, kCheckCount> ticks_{};
  bool succeeded_ = false;
  std::string focus_;
  bool exitDone_ = false;
  bool destroyed_ = false;
};

}  // namespace dorvik
