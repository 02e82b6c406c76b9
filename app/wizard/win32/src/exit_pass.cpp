// fmExit and fmPass.
#include <algorithm>

#include "dialogs.h"
#include "win_base.h"

namespace dorvik::win {

namespace {

enum : int { kExitText = 100, kExitButton = 101, kGroup = 110, kEdPass = 111 };

}  // namespace

ExitDialog::ExitDialog(HWND owner) { Create(L"fmExit", L"Выход из установки", WS_SYSMENU, owner); }

void ExitDialog::OnInit() {
  const wchar_t* const lines[] = {L"Установка не была завершена. Если вы выйдете ",
                                  L"сейчас, дистрибутив не будет установлен.", L"",
                                  L"Для продолжения установки нажмите Продолжить", L"Для выхода нажмите Выход."};
  std::wstring text;
  for (const wchar_t* line : lines) text += std::wstring(text.empty() ? L"" : L"\n") + line;
  HWND label = Child(window_, L"STATIC", text, WS_VISIBLE | SS_NOPREFIX, 16, 8, 265, 89, kExitText);
  // The design is 305 wide for its font; a wider font widens the dialog so
  // that each of the five lines stays one line.
  int widest = 265;
  for (const wchar_t* line : lines) widest = std::max(widest, TextWidth(label, line) + 4);
  const int width = 305 + (widest - 265);
  SetClientSize(window_, width, 146);
  Place(label, 16, 8, widest, 89);
  // "Продолжить" is the default and answers Esc too (IDCANCEL, below).
  Child(window_, L"BUTTON", L"Продолжить", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, width - 184, 114, 81, 25, IDOK);
  Child(window_, L"BUTTON", L"Выход", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, width - 92, 114, 81, 25, kExitButton);
}

bool ExitDialog::AskStay() {
  CentreOn(window_, owner_);
  SendMessageW(window_, DM_SETDEFID, IDOK, 0);
  SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDOK)), TRUE);
  return ShowModal() == IDOK;
}

bool ExitDialog::OnCommand(int id, int) {
  if (id == IDOK || id == IDCANCEL) {
    End(IDOK);
    return true;
  }
  if (id == kExitButton) {
    End(IDCANCEL);
    return true;
  }
  return false;
}

// The title-bar close button means "Выход"; Esc (IDCANCEL) means "Продолжить".
bool ExitDialog::OnMessage(UINT message, WPARAM wp, LPARAM, INT_PTR& result) {
  if (message == WM_SYSCOMMAND && (wp & 0xFFF0) == SC_CLOSE) {
    End(IDCANCEL);
    result = 0;
    return true;
  }
  return false;
}

PassDialog::PassDialog(HWND owner) { Create(L"fmPass", L"Введите пароль", WS_SYSMENU, owner); }

void PassDialog::OnInit() {
  // 202 wide at design; wide enough here for the title "Введите пароль" in
  // a window manager's title bar beside its buttons.
  constexpr int kWidth = 262;
  constexpr int kShift = (kWidth - 202) / 2;
  SetClientSize(window_, kWidth, 80);
  Child(window_, L"BUTTON", L"Пароль на исходные тексты", WS_VISIBLE | BS_GROUPBOX, 4, 0, kWidth - 8, 49, kGroup);
  HWND field = Child(window_, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, 12, 18, kWidth - 24,
                     21, kEdPass, WS_EX_CLIENTEDGE);
  SendMessageW(field, EM_SETPASSWORDCHAR, L'*', 0);
  Child(window_, L"BUTTON", L"ОК", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 9 + kShift, 54, 75, 25, IDOK);
  Child(window_, L"BUTTON", L"Отмена", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 106 + kShift, 54, 75, 25, IDCANCEL);
}

bool PassDialog::Ask() {
  CentreOn(window_, owner_);
  HWND field = Item(kEdPass);
  SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
  return ShowModal() == IDOK;
}

std::wstring PassDialog::Typed() const { return Text(Item(kEdPass)); }

bool PassDialog::OnCommand(int id, int) {
  if (id == IDOK || id == IDCANCEL) {
    End(id);
    return true;
  }
  return false;
}

}  // namespace dorvik::win
