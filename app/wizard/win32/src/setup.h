// fmSetup: the wizard window, a view of the wizard model. It builds each
// page's controls from the model's page table, draws the model's state,
// forwards clicks, ticks, typing and keys to it, and answers the prompts
// the model puts (the standard boxes, fmPass, fmExit).
//
// Keys as on every Windows dialog, through the dialog manager: Tab and
// Shift+Tab through the controls, Enter on the focused button or else the
// page's default, Esc where the model says, Space on boxes and buttons. A
// multi-line text box turns Esc into a close request (WM_CLOSE); that is
// taken as Esc, and only the title-bar close (SC_CLOSE) is a close.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "wizard_model/front_end.h"
#include "wizard_model/wizard_model.h"

namespace dorvik::win {

class ExitDialog;
class PassDialog;
class Win32Ui;

class Setup : public WizardFrontEnd {
 public:
  // Creates the wizard window hidden, owned by the background `owner`.
  Setup(Session& session, Win32Ui& ui, HWND owner);
  ~Setup() override;
  HWND hwnd() const { return window_; }
  WizardModel& model() { return model_; }

  // The dialogs created after the wizard.
  void SetDialogs(ExitDialog* exit, PassDialog* pass);
  // The creation handler: the model's start-up, then the wizard shown
  // centred on the desktop.
  void FormCreate(const std::vector<std::string>& args);

  Answer Ask(const Prompt& prompt) override;
  void RunOnLinkThread(const std::function<void()>& call) override;
  void Refresh() override;
  void Terminate() override;

 private:
  struct Control {
    HWND hwnd;
    Page page;
    ControlKind kind;
    std::string name;
    bool visible;  // as the page table says
  };
  struct Button {
    HWND hwnd;
    Page page;
    Action action;
  };
  static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR Handle(UINT message, WPARAM wp, LPARAM lp);
  void BuildPages();
  void BuildPage(const PageSpec& spec);
  void OnCommand(int id, int notification, HWND from);
  void Run(Action action);
  HWND Find(const std::string& name) const;
  void SetMemo(HWND memo, const std::vector<std::string>& lines);
  void PaintImagePanel(HDC dc);

  Session& s_;
  Win32Ui& ui_;
  WizardModel model_;
  HWND window_ = nullptr;
  HWND owner_;
  ExitDialog* exit_ = nullptr;
  PassDialog* pass_ = nullptr;
  HFONT bold_ = nullptr;
  std::vector<Control> controls_;
  std::map<int, Button> buttons_;
  std::map<int, Check> checks_;
  std::map<int, Field> fields_;
  std::map<std::string, HWND> named_;
  HWND list_ = nullptr;
  Page shown_ = Page::tsFinal;
  bool refreshing_ = false;
  bool pageShownOnce_ = false;
  std::vector<std::string> listShown_;
  std::map<HWND, std::vector<std::string>> memoShown_;
};

}  // namespace dorvik::win
