// The base of the wizard's dialogs: a dialog of a named window class whose
// messages reach the object's handlers, shown modally over its owner.
#pragma once

#include <windows.h>

#include <string>

namespace dorvik::win {

class Dialog {
 public:
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  HWND hwnd() const { return window_; }
  // Shows the dialog modally over its owner; answers the result it ended
  // with (IDCANCEL when the program is ending).
  int ShowModal();

 protected:
  Dialog() = default;
  // Creates the dialog hidden; `style` adds to a popup with a caption.
  void Create(const wchar_t* windowClass, const std::wstring& title, DWORD style, HWND owner);
  // Adds the controls (WM_INITDIALOG).
  virtual void OnInit() = 0;
  // A button or Enter/Esc (IDOK, IDCANCEL); true when handled.
  virtual bool OnCommand(int id, int notification) = 0;
  // Other messages; answers whether they were handled.
  virtual bool OnMessage(UINT message, WPARAM wp, LPARAM lp, INT_PTR& result);
  void End(int result);
  HWND Item(int id) const { return GetDlgItem(window_, id); }

  HWND window_ = nullptr;
  HWND owner_ = nullptr;

 private:
  static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
};

}  // namespace dorvik::win
