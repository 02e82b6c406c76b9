#include "progress.h"

#include <algorithm>

#include "gauge.h"
#include "win_base.h"

namespace dorvik::win {

namespace {

const wchar_t* const kClass = L"fmProgress";
constexpr int kTimeRightEdge = 291 + 33;
constexpr int kAfterPanelHeight = 124;
constexpr int kLabelHeight = 14;

enum : int { kAni = 10, kLbMes = 20, kGaP, kLbElement, kLbTime, kLbAbort, kAni2, kLbAfter };

}  // namespace

Progress::Progress(HWND main, std::atomic<bool>& userAbort, bool still) : main_(main), userAbort_(userAbort) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (!GetClassInfoExW(GetModuleHandleW(nullptr), kClass, &existing)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32514));  // the hourglass
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);
  }
  // No caption is drawn; the window's text names it for the task list only.
  // The system-menu style draws nothing without a caption; under Wine it
  // makes the window one the window manager stacks, not one above all.
  window_ = CreateWindowExW(WS_EX_TOPMOST, kClass, L"Ход установки", WS_POPUP | WS_SYSMENU | WS_CLIPCHILDREN, 0, 0, Px(kDesignWidth),
                            Px(80), main, nullptr, GetModuleHandleW(nullptr), this);
  Ani = std::make_unique<AnimationView>(window_, kAni, 14, 5, 272, 46, still);
  lbMes = Child(window_, L"STATIC", L"lbMes", WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 12, 64, 100, kLabelHeight,
                kLbMes);
  AutoSize(lbMes);
  gaP = CreateGauge(window_, kGaP, 12, 79, 313, 20);
  lbElement = Child(window_, L"STATIC", L"Элемент", WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 14, 101, 100,
                    kLabelHeight, kLbElement);
  AutoSize(lbElement);
  lbTime = Child(window_, L"STATIC", L"Время", SS_RIGHT | SS_NOPREFIX, 291, 102, 33, kLabelHeight, kLbTime);
  lbAbort = Child(window_, L"STATIC", L"Остановка после шага", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 64, 130,
                  kLabelHeight, kLbAbort);
  AutoSize(lbAbort);
  ani2 = CreateSpinner(window_, kAni2, 288, 48, 30, 30, still);
  ShowWindow(ani2, SW_HIDE);
  pnAfter = Child(window_, L"STATIC", L"", SS_SUNKEN, 2, 118, 332, kAfterPanelHeight, 0);
  lbAfter = Child(window_, L"EDIT", L"", ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL, 5, 121, 326, 118,
                  kLbAfter);
  CentreOnMainWindow();
  RECT r;
  GetWindowRect(window_, &r);
  positionAt_ = {r.left, r.top};
}

Progress::~Progress() {
  if (window_ != nullptr) DestroyWindow(window_);
}

LRESULT CALLBACK Progress::Proc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  return RouteToOwner(window, message, wp, lp, &Progress::window_, &Progress::Handle);
}

LRESULT Progress::Handle(UINT message, WPARAM wp, LPARAM lp) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window_, &ps);
      RECT area;
      GetClientRect(window_, &area);
      DrawEdge(dc, &area, EDGE_RAISED, BF_RECT);  // the panel's bevel
      EndPaint(window_, &ps);
      return 0;
    }
    case WM_KEYDOWN:
      if (wp == VK_ESCAPE) RequestAbort();
      return 0;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lp) == lbAbort) {
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, RGB(160, 0, 0));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_MOUSEACTIVATE:
      break;
    case WM_CLOSE:
      return 0;  // only the program hides it
    default:
      break;
  }
  return DefWindowProcW(window_, message, wp, lp);
}

void Progress::AutoSize(HWND label) {
  const int w = std::max(1, TextWidth(label, Text(label)) + 2);
  RECT r;
  GetWindowRect(label, &r);
  POINT at{r.left, r.top};
  ScreenToClient(window_, &at);
  SetWindowPos(label, nullptr, 0, 0, Px(w), Px(kLabelHeight), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Progress::SetStage(const std::wstring& text) {
  SetText(lbMes, text);
  AutoSize(lbMes);
  PlaceAbortNotice();
  InvalidateRect(lbMes, nullptr, TRUE);
}

void Progress::AcceptAbortRequests(bool on) {
  abortAccepted_ = on;
  if (on && userAbort_) {
    PlaceAbortNotice();
    ShowWindow(lbAbort, SW_SHOWNA);
  } else if (!on) {
    ShowWindow(lbAbort, SW_HIDE);
  }
}

void Progress::RequestAbort() {
  userAbort_ = true;
  if (!abortAccepted_) return;
  PlaceAbortNotice();
  ShowWindow(lbAbort, SW_SHOWNA);
  UpdateWindow(lbAbort);
}

void Progress::ClearAbortNotice() { ShowWindow(lbAbort, SW_HIDE); }

void Progress::PlaceAbortNotice() {
  const int gaugeRight = 12 + gaugeWidth_;
  const int noticeWidth = TextWidth(lbAbort, Text(lbAbort)) + 2;
  const int stageRight = 12 + TextWidth(lbMes, Text(lbMes)) + 2;
  Place(lbAbort, std::max(stageRight + 6, gaugeRight - noticeWidth), 64, noticeWidth, kLabelHeight);
}

void Progress::SetAnimation(Animation kind) { Ani->SetKind(kind); }

void Progress::SetElement(const std::wstring& text) {
  SetText(lbElement, text);
  AutoSize(lbElement);
  InvalidateRect(lbElement, nullptr, TRUE);
}

void Progress::SetProgressMax(int max) {
  max_ = std::max(0, max);
  SetProgress(position_);
}

void Progress::SetProgress(int position) {
  position_ = std::clamp(position, 0, max_.load());
  SetGauge(gaP, position_, max_);
}

void Progress::SetTimeText(const std::wstring& text) {
  SetText(lbTime, text);
  PlaceTimeLabel();
  InvalidateRect(lbTime, nullptr, TRUE);
}

void Progress::SetTimeVisible(bool visible) { ShowWindow(lbTime, visible ? SW_SHOWNA : SW_HIDE); }
void Progress::SetGaugeVisible(bool visible) { ShowWindow(gaP, visible ? SW_SHOWNA : SW_HIDE); }

// Anchored at the gauge's right end, or after the post-action switch at the
// left where the element name was.
void Progress::PlaceTimeLabel() {
  const int w = std::max(33, TextWidth(lbTime, Text(lbTime)) + 2);
  if (postActionMode_) {
    Place(lbTime, 14, 102, w, kLabelHeight);
  } else {
    Place(lbTime, kTimeRightEdge - w, 102, w, kLabelHeight);
  }
}

void Progress::SetProgressHeight(int height) {
  height_ = height;
  SetWindowPos(window_, nullptr, 0, 0, Px(width_), Px(height_), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  LayOut();
}

void Progress::LayOut() {
  Place(pnAfter, 2, height_ - 2 - kAfterPanelHeight, width_ - 4, kAfterPanelHeight);
  Place(lbAfter, 5, height_ - kAfterPanelHeight + 1, width_ - 10, kAfterPanelHeight - 6);
  InvalidateRect(window_, nullptr, TRUE);
}

void Progress::PlaceProgress() {
  SetWindowPos(window_, nullptr, positionAt_.x, positionAt_.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Progress::SetStayOnTop(bool on) {
  SetWindowPos(window_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool Progress::IsStayOnTop() const { return (GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

void Progress::CentreOnMainWindow() { CentreOn(window_, main_); }

void Progress::EnterPostActionMode() {
  postActionMode_ = true;
  SetText(lbTime, L"");
  SetWindowLongPtrW(lbTime, GWL_STYLE, (GetWindowLongPtrW(lbTime, GWL_STYLE) & ~SS_RIGHT) | SS_LEFT);
  PlaceTimeLabel();
  ShowWindow(lbTime, SW_SHOWNA);
  ShowWindow(lbElement, SW_HIDE);
  width_ = kPostActionWidth;
  SetProgressHeight(245);
  const int widening = kPostActionWidth - kWideningReference;
  gaugeWidth_ = 313 + widening;
  Place(gaP, 12, 79, gaugeWidth_, 20);
  Place(ani2, 288 + widening, 48, 30, 30);
  Ani->Show(false);
  ShowWindow(ani2, SW_SHOWNA);
  CentreOnMainWindow();
  ShowWindow(pnAfter, SW_SHOWNA);
  ShowWindow(lbAfter, SW_SHOWNA);
}

void Progress::AppendAfterLine(const std::wstring& text) {
  after_ = after_.empty() ? text : after_ + L'\r' + text;
  // The edit control breaks lines at CR LF.
  std::wstring shown;
  for (const wchar_t c : after_) {
    if (c == L'\r') {
      shown += L"\r\n";
    } else {
      shown += c;
    }
  }
  SetText(lbAfter, shown);
  const auto end = static_cast<WPARAM>(shown.size());
  SendMessageW(lbAfter, EM_SETSEL, end, static_cast<LPARAM>(end));
  SendMessageW(lbAfter, EM_SCROLLCARET, 0, 0);
}

}  // namespace dorvik::win
