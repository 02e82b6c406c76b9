// The wizard's small dialogs: the exit confirmation fmExit, the source
// password fmPass, the program's own message box fmBox (RunKelbox) and the
// question dialog fmAskUser (AskUser). Each is owned by the window it
// belongs to and opens in front of it.
#pragma once

#include <windows.h>

#include <string>

#include "core/ui.h"
#include "dialog.h"
#include "layout.h"

namespace dorvik::win {

// fmExit: "Продолжить" (also Enter and Esc) answers true, stay; "Выход" and
// the title-bar close answer false, leave the program.
class ExitDialog : public Dialog {
 public:
  explicit ExitDialog(HWND owner);
  // Shows it centred on its owner; true to stay.
  bool AskStay();

 private:
  void OnInit() override;
  bool OnCommand(int id, int notification) override;
  bool OnMessage(UINT message, WPARAM wp, LPARAM lp, INT_PTR& result) override;
};

// fmPass: the field edPass keeps what was typed the previous time.
class PassDialog : public Dialog {
 public:
  explicit PassDialog(HWND owner);
  // Shows it centred on its owner; true when confirmed with "ОК".
  bool Ask();
  std::wstring Typed() const;

 private:
  void OnInit() override;
  bool OnCommand(int id, int notification) override;
};

// fmBox. The box made at start is never shown; RunKelbox makes a fresh one.
class KelboxDialog : public Dialog {
 public:
  KelboxDialog(HWND owner, const KelboxRequest& request);
  const KelboxLayout& Layout() const { return layout_; }

 private:
  void OnInit() override;
  bool OnCommand(int id, int notification) override;
  bool OnMessage(UINT message, WPARAM wp, LPARAM lp, INT_PTR& result) override;

  KelboxRequest request_;
  KelboxLayout layout_;
  HBITMAP icon_ = nullptr;
  int focus_ = 1;
};

// Shows the box modally over `owner`, clear of `keepVisible` when that is
// not empty. Answers the button's number or the Esc result; any failure
// comes out as std::runtime_error "RunKelbox Error " + its reason.
int RunKelbox(const KelboxRequest& request, HWND owner, const RECT& keepVisible);

// fmAskUser.
class AskUserDialog : public Dialog {
 public:
  AskUserDialog(HWND owner, std::wstring question, std::wstring caption, std::wstring defaultAnswer);
  int Lines() const { return lines_; }
  std::wstring Answer() const;

 private:
  void OnInit() override;
  bool OnCommand(int id, int notification) override;

  std::wstring question_;
  std::wstring defaultAnswer_;
  int lines_ = 1;
};

// Asks modally; the text typed when "OK" was pressed, "" otherwise (also
// when anything fails).
std::wstring AskUser(const std::wstring& question, const std::wstring& caption, const std::wstring& defaultAnswer,
                     HWND owner, const RECT& keepVisible);

}  // namespace dorvik::win
