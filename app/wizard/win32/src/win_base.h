// What every window of the Win32 wizard shares: text conversion between the
// core's code page 1251 bytes and the W functions' UTF-16, sizes scaled to
// the screen's DPI, child controls, dialogs of a named window class built
// from an in-memory template, and the modal loop that keeps Tab, Enter, Esc
// and Space working as on every Windows dialog.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace dorvik::win {

// Code page 1251 bytes (the core's texts) to UTF-16 and back. Narrow throws
// TextConversionError when a character has no 1251 counterpart.
std::wstring Wide(std::string_view cp1251);
std::wstring WideUtf8(std::string_view utf8);
std::string Narrow(std::wstring_view text);

// Design pixels (at 96 DPI) to screen pixels.
int Px(int designPixels);

// The dialog font: "MS Shell Dlg", 8 points, at the screen's DPI; one for
// the whole program.
HFONT DialogFont();

// A child control at design coordinates, with the dialog font.
HWND Child(HWND parent, const wchar_t* windowClass, std::wstring_view text, DWORD style, int x, int y, int w, int h,
           int id, DWORD exStyle = 0);
void Place(HWND control, int x, int y, int w, int h);

std::wstring Text(HWND window);
void SetText(HWND window, std::wstring_view text);
// Width of `text` in the window's font, in design pixels.
int TextWidth(HWND window, std::wstring_view text);

// Sizes a top-level window so that its client area is w x h design pixels.
void SetClientSize(HWND window, int w, int h);
// Centres `window` on `anchor` (nullptr: the work area), kept on screen.
void CentreOn(HWND window, HWND anchor);
// Moves `window` (centred on the work area) clear of `keepVisible`: above
// it when there is room, else below it, else at the top.
void PlaceClearOf(HWND window, const RECT& keepVisible);

// The window procedure of a window owned by an object of class T: the object
// comes with CreateWindowExW's parameter, is kept in the window's user data
// and gets every message through `handle`; `window` receives the handle at
// WM_NCCREATE. Messages before that go to DefWindowProcW.
template <class T>
LRESULT RouteToOwner(HWND window, UINT message, WPARAM wp, LPARAM lp, HWND T::*windowMember,
                     LRESULT (T::*handle)(UINT, WPARAM, LPARAM)) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->*windowMember = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return self != nullptr ? (self->*handle)(message, wp, lp) : DefWindowProcW(window, message, wp, lp);
}

// Registers a dialog window class named `name` (the dialog manager's own
// procedure, with its extra bytes), once.
void RegisterDialogClass(const wchar_t* name);

// A dialog of the registered class `name`, created hidden from a template
// without controls (the dialog font is set in it); `proc` adds them in
// WM_INITDIALOG. Owned by `owner`.
HWND CreateNamedDialog(const wchar_t* name, std::wstring_view title, DWORD style, HWND owner, DLGPROC proc,
                       LPARAM param);

// Shows `dialog` modally over `owner`: the owner is disabled meanwhile,
// the dialog comes to the front, and keys go through the dialog manager
// until EndModal. Answers EndModal's result; a WM_QUIT ends it with
// `onQuit` (and is posted again for the outer loop).
int RunModal(HWND dialog, HWND owner, int onQuit);
void EndModal(HWND dialog, int result);
// Whether a modal loop runs for `dialog`.
bool InModal(HWND dialog);

// Appends a line to the file named by VELMORA_WIZARD_TRACE, when set: what
// the wizard shows (a page, a prompt, a tick), for the tests that drive it
// through its keys and wait on the file.
void TraceLine(const std::string& line);

}  // namespace dorvik::win
