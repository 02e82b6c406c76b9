#include "dialog.h"

#include "win_base.h"

namespace dorvik::win {

Dialog::~Dialog() {
  if (window_ != nullptr) DestroyWindow(window_);
}

void Dialog::Create(const wchar_t* windowClass, const std::wstring& title, DWORD style, HWND owner) {
  owner_ = owner;
  CreateNamedDialog(windowClass, title, WS_POPUP | WS_CAPTION | DS_MODALFRAME | style, owner, Proc,
                    reinterpret_cast<LPARAM>(this));
}

int Dialog::ShowModal() { return RunModal(window_, owner_, IDCANCEL); }

void Dialog::End(int result) { EndModal(window_, result); }

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

INT_PTR CALLBACK Dialog::Proc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Dialog*>(lp);
    self->window_ = window;
    SetWindowLongPtrW(window, DWLP_USER, lp);
    self->OnInit();
    return FALSE;  // the dialog sets its own focus
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  if (message == WM_COMMAND) return self->OnCommand(LOWORD(wp), HIWORD(wp)) ? TRUE : FALSE;
  INT_PTR result = 0;
  if (self->OnMessage(message, wp, lp, result)) {
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
  }
  return FALSE;
}

}  // namespace dorvik::win
