#include "fone.h"

#include "picture.h"
#include "progress.h"
#include "win_base.h"

namespace dorvik::win {

namespace {

const wchar_t* const kClass = L"fmFone";
constexpr COLORREF kTeal = RGB(0, 128, 128);
constexpr int kBevel = 3;

bool IsTopmost(HWND w) { return (GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

void BringToFront(HWND w) {
  if (IsIconic(w)) ShowWindow(w, SW_RESTORE);
  ShowWindow(w, SW_SHOWNA);
  SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace

Fone::Fone(std::function<void()> onClose) : onClose_(std::move(onClose)) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (!GetClassInfoExW(GetModuleHandleW(nullptr), kClass, &existing)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);
  }
  titleFont_ = CreateFontW(-Px(37), 0, 0, 0, FW_BOLD, TRUE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_ROMAN, L"Times New Roman");
  window_ = CreateWindowExW(WS_EX_APPWINDOW, kClass, L"Velmora Installation Wizard",
                            WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, -4, -4, Px(808), Px(580), nullptr,
                            nullptr, GetModuleHandleW(nullptr), this);
}

Fone::~Fone() {
  if (window_ != nullptr) DestroyWindow(window_);
  if (picture_ != nullptr) DeleteObject(picture_);
  if (titleFont_ != nullptr) DeleteObject(titleFont_);
}

void Fone::SetCompanions(HWND wizard, Progress* progress) {
  wizard_ = wizard;
  progress_ = progress;
}

void Fone::SetTitle(const std::wstring& text) {
  title_ = text;
  InvalidateRect(window_, nullptr, TRUE);
}

void Fone::ShowFullScreen() {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &info);
  const RECT& m = info.rcMonitor;
  SetWindowPos(window_, nullptr, m.left, m.top, m.right - m.left, m.bottom - m.top, SWP_NOZORDER);
  // The frame is placed once, from the window's size: the middle eight
  // tenths of the width and seven tenths of the height, a tenth below the
  // top.
  RECT c;
  GetClientRect(window_, &c);
  const int w = c.right, h = c.bottom;
  frame_ = {w / 10, (h / 20) * 2, w / 10 + (w / 10) * 8, (h / 20) * 2 + (h / 20) * 14};
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
}

RECT Fone::Frame() const { return frame_; }

int Fone::PictureBottom() const {
  POINT bottom{0, frame_.bottom};
  ClientToScreen(window_, &bottom);
  return bottom.y;
}

void Fone::ShowPicture(const std::filesystem::path& file) {
  HBITMAP decoded = DecodePicture(file);
  if (picture_ != nullptr) DeleteObject(picture_);
  picture_ = decoded;
  pictureShown_ = true;
  InvalidateRect(window_, &frame_, FALSE);
  UpdateWindow(window_);
}

LRESULT CALLBACK Fone::Proc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  return RouteToOwner(window, message, wp, lp, &Fone::window_, &Fone::Handle);
}

LRESULT Fone::Handle(UINT message, WPARAM wp, LPARAM lp) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE) OnActivate();
      break;
    case WM_LBUTTONDOWN:
      // A click on the background that is already active brings the
      // wizard back in front as well.
      OnActivate();
      return 0;
    case WM_KEYDOWN:
      if (wp == VK_ESCAPE && progress_ != nullptr) progress_->RequestAbort();
      return 0;
    case WM_CLOSE:
      if (onClose_) onClose_();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wp, lp);
}

// The wizard (and during the connection the progress window, which then
// leaves its always-on-top state) comes back in front whenever the
// background is activated, also after the wizard was minimised.
void Fone::OnActivate() {
  if (wizard_ == nullptr) return;
  if (!activatedOnce_) {
    activatedOnce_ = true;
    BringToFront(wizard_);
    SetForegroundWindow(wizard_);
    return;
  }
  if (IsWindowVisible(wizard_) && (!IsTopmost(wizard_) || IsIconic(wizard_))) BringToFront(wizard_);
  if (progress_ != nullptr && IsWindowVisible(progress_->hwnd()) && !progress_->IsStayOnTop()) {
    BringToFront(progress_->hwnd());
  }
  if (IsWindowVisible(wizard_) && IsWindowEnabled(wizard_)) SetForegroundWindow(wizard_);
}

void Fone::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window_, &ps);
  RECT area;
  GetClientRect(window_, &area);
  HBRUSH teal = CreateSolidBrush(kTeal);
  FillRect(dc, &area, teal);
  DeleteObject(teal);
  // The title in white over its black shadow, 4 pixels right and below.
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old = SelectObject(dc, titleFont_);
  SetTextColor(dc, RGB(0, 0, 0));
  TextOutW(dc, Px(6), Px(2), title_.c_str(), static_cast<int>(title_.size()));
  SetTextColor(dc, RGB(255, 255, 255));
  TextOutW(dc, Px(2), Px(-2), title_.c_str(), static_cast<int>(title_.size()));
  SelectObject(dc, old);
  if (pictureShown_) {
    RECT frame = frame_;
    for (int i = 0; i < kBevel; ++i) {
      DrawEdge(dc, &frame, BDR_SUNKENINNER, BF_RECT);
      InflateRect(&frame, -1, -1);
    }
    if (picture_ != nullptr) {
      BITMAP info;
      GetObjectW(picture_, sizeof info, &info);
      HDC memory = CreateCompatibleDC(dc);
      HGDIOBJ was = SelectObject(memory, picture_);
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);
      StretchBlt(dc, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top, memory, 0, 0,
                 info.bmWidth, info.bmHeight, SRCCOPY);
      SelectObject(memory, was);
      DeleteDC(memory);
    }
  }
  EndPaint(window_, &ps);
}

}  // namespace dorvik::win
