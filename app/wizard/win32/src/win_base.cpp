#include "win_base.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "distribution/codepage.h"

namespace dorvik::win {

namespace {

constexpr UINT kCoreCodePage = 1251;

int ScreenDpi() {
  static const int dpi = [] {
    HDC screen = GetDC(nullptr);
    const int d = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return d > 0 ? d : 96;
  }();
  return dpi;
}

std::wstring ToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

struct ModalState {
  HWND dialog;
  bool done;
  int result;
};

// The modal loops running now, innermost last (a dialog may open another).
std::vector<ModalState>& Modals() {
  static std::vector<ModalState> modals;
  return modals;
}

}  // namespace

std::wstring Wide(std::string_view cp1251) { return ToWide(kCoreCodePage, cp1251); }
std::wstring WideUtf8(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  BOOL lost = FALSE;
  const int n = WideCharToMultiByte(kCoreCodePage, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, &lost);
  if (lost) throw TextConversionError("a character has no counterpart in code page 1251");
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(kCoreCodePage, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

int Px(int designPixels) { return MulDiv(designPixels, ScreenDpi(), 96); }

HFONT DialogFont() {
  static HFONT font = CreateFontW(-MulDiv(8, ScreenDpi(), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                  L"MS Shell Dlg");
  return font;
}

HWND Child(HWND parent, const wchar_t* windowClass, std::wstring_view text, DWORD style, int x, int y, int w, int h,
           int id, DWORD exStyle) {
  const std::wstring caption(text);
  HWND control =
      CreateWindowExW(exStyle, windowClass, caption.c_str(), WS_CHILD | style, Px(x), Px(y), Px(w), Px(h), parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
  return control;
}

void Place(HWND control, int x, int y, int w, int h) {
  SetWindowPos(control, nullptr, Px(x), Px(y), Px(w), Px(h), SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring Text(HWND window) {
  const int n = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  GetWindowTextW(window, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

void SetText(HWND window, std::wstring_view text) {
  const std::wstring copy(text);
  SetWindowTextW(window, copy.c_str());
}

int TextWidth(HWND window, std::wstring_view text) {
  HDC dc = GetDC(window);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc, font != nullptr ? font : DialogFont());
  SIZE size{};
  GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return MulDiv(size.cx, 96, ScreenDpi());
}

void SetClientSize(HWND window, int w, int h) {
  RECT r{0, 0, Px(w), Px(h)};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

RECT WorkArea(HWND around) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(around, MONITOR_DEFAULTTOPRIMARY), &info);
  return info.rcWork;
}

void MoveInside(HWND window, int x, int y, const RECT& area) {
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  x = std::max<int>(area.left, std::min<int>(x, area.right - w));
  y = std::max<int>(area.top, std::min<int>(y, area.bottom - h));
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void CentreOn(HWND window, HWND anchor) {
  const RECT area = WorkArea(anchor != nullptr ? anchor : window);
  RECT around = area;
  if (anchor != nullptr && IsWindowVisible(anchor)) GetWindowRect(anchor, &around);
  RECT r;
  GetWindowRect(window, &r);
  MoveInside(window, (around.left + around.right - (r.right - r.left)) / 2,
             (around.top + around.bottom - (r.bottom - r.top)) / 2, area);
}

void PlaceClearOf(HWND window, const RECT& keep) {
  const RECT area = WorkArea(window);
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int x = (keep.left + keep.right) / 2 - w / 2;
  const int above = keep.top - area.top, below = area.bottom - keep.bottom;
  int y = area.top;
  if (above >= h) {
    y = area.top + (above - h) / 2;
  } else if (below >= h) {
    y = keep.bottom + (below - h) / 2;
  }
  MoveInside(window, x, y, area);
}

void RegisterDialogClass(const wchar_t* name) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &existing)) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefDlgProcW;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

HWND CreateNamedDialog(const wchar_t* name, std::wstring_view title, DWORD style, HWND owner, DLGPROC proc,
                       LPARAM param) {
  RegisterDialogClass(name);
  // DLGTEMPLATE, then the menu (none), the class, the title, and the
  // font's size and name (DS_SETFONT).
  std::vector<WORD> t;
  auto dword = [&t](DWORD v) {
    t.push_back(LOWORD(v));
    t.push_back(HIWORD(v));
  };
  auto text = [&t](std::wstring_view s) {
    for (const wchar_t c : s) t.push_back(static_cast<WORD>(c));
    t.push_back(0);
  };
  dword(style | DS_SETFONT);
  dword(0);                                             // extended style
  t.push_back(0);                                       // no controls in the template
  for (const WORD v : {0, 0, 100, 50}) t.push_back(v);  // placed and sized after creation
  t.push_back(0);                                       // no menu
  text(name);
  text(title);
  t.push_back(8);
  text(L"MS Shell Dlg");
  return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(t.data()), owner,
                                    proc, param);
}

int RunModal(HWND dialog, HWND owner, int onQuit) {
  const bool disableOwner = owner != nullptr && IsWindowEnabled(owner);
  if (disableOwner) EnableWindow(owner, FALSE);
  Modals().push_back({dialog, false, onQuit});
  ShowWindow(dialog, SW_SHOW);
  SetForegroundWindow(dialog);
  SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  wchar_t name[64] = {};
  GetClassNameW(dialog, name, 64);
  std::string shown = "modal ";
  for (const wchar_t* c = name; *c != 0; ++c) shown.push_back(static_cast<char>(*c));  // the names are ASCII
  TraceLine(shown);
  auto mine = [dialog]() -> ModalState& {
    auto& m = Modals();
    return *std::find_if(m.rbegin(), m.rend(), [dialog](const ModalState& s) { return s.dialog == dialog; });
  };
  MSG msg;
  while (!mine().done) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!IsDialogMessageW(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  const int result = mine().result;
  auto& m = Modals();
  m.erase(std::find_if(m.begin(), m.end(), [dialog](const ModalState& s) { return s.dialog == dialog; }));
  // The owner is enabled again before the dialog goes, so that the
  // activation returns to it and not to another program.
  if (disableOwner) EnableWindow(owner, TRUE);
  ShowWindow(dialog, SW_HIDE);
  if (owner != nullptr && IsWindowVisible(owner)) SetForegroundWindow(owner);
  return result;
}

void EndModal(HWND dialog, int result) {
  for (auto& s : Modals()) {
    if (s.dialog == dialog) {
      s.done = true;
      s.result = result;
    }
  }
  // Wakes the loop if the request came from inside a message it is not
  // pumping itself.
  PostMessageW(dialog, WM_NULL, 0, 0);
}

bool InModal(HWND dialog) {
  const auto& m = Modals();
  return std::any_of(m.begin(), m.end(), [dialog](const ModalState& s) { return s.dialog == dialog && !s.done; });
}

void TraceLine(const std::string& line) {
  const wchar_t* file = _wgetenv(L"VELMORA_WIZARD_TRACE");
  if (file == nullptr || *file == L'\0') return;
  if (FILE* out = _wfopen(file, L"ab")) {
    std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
  }
}

}  // namespace dorvik::win
