#include "animation.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

#include "win_base.h"

namespace dorvik::win {

namespace {

constexpr UINT kFrameMs = 70;
constexpr int kFramesPerCycle = 36;
constexpr UINT_PTR kTimer = 1;
const wchar_t* const kDrawnClass = L"VelmoraAnimation";
const wchar_t* const kSpinnerClass = L"VelmoraSpinner";

// The shell's animation resources (type "AVI" in shell32.dll).
int ShellAviId(Animation kind) {
  switch (kind) {
    case Animation::FindFolder:
      return 150;
    case Animation::FindComputer:
      return 152;
    case Animation::CopyFiles:
      return 161;
    case Animation::None:
      break;
  }
  return 0;
}

// shell32.dll is not mapped into a program that does not call it; the
// animation control loads the resource from this handle.
HMODULE Shell32() {
  static HMODULE module = LoadLibraryW(L"shell32.dll");
  return module;
}

bool SystemAnimationMoves(int id) {
  HMODULE shell = Shell32();
  if (shell == nullptr || id == 0) return false;
  HRSRC found = FindResourceW(shell, MAKEINTRESOURCEW(id), L"AVI");
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(shell, found);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  return data != nullptr && AviDistinctFrames(data, SizeofResource(shell, found)) > 1;
}

struct DrawnState {
  Animation kind = Animation::None;
  int frame = 0;
};

class Painter {
 public:
  explicit Painter(HDC dc) : dc_(dc) {}
  void Rect(double l, double t, double r, double b, COLORREF fill, COLORREF line) {
    HBRUSH brush = CreateSolidBrush(fill);
    HPEN pen = CreatePen(PS_SOLID, 1, line);
    HGDIOBJ ob = SelectObject(dc_, brush), op = SelectObject(dc_, pen);
    RoundRect(dc_, I(l), I(t), I(r), I(b), 4, 4);
    SelectObject(dc_, ob);
    SelectObject(dc_, op);
    DeleteObject(brush);
    DeleteObject(pen);
  }
  void Circle(double x, double y, double radius, COLORREF fill, COLORREF line, int width) {
    HBRUSH brush = CreateSolidBrush(fill);
    HPEN pen = CreatePen(PS_SOLID, width, line);
    HGDIOBJ ob = SelectObject(dc_, brush), op = SelectObject(dc_, pen);
    Ellipse(dc_, I(x - radius), I(y - radius), I(x + radius), I(y + radius));
    SelectObject(dc_, ob);
    SelectObject(dc_, op);
    DeleteObject(brush);
    DeleteObject(pen);
  }
  void Line(double x1, double y1, double x2, double y2, COLORREF colour, int width) {
    HPEN pen = CreatePen(PS_SOLID, width, colour);
    HGDIOBJ op = SelectObject(dc_, pen);
    MoveToEx(dc_, I(x1), I(y1), nullptr);
    LineTo(dc_, I(x2), I(y2));
    SelectObject(dc_, op);
    DeleteObject(pen);
  }

 private:
  static int I(double v) { return static_cast<int>(std::lround(v)); }
  HDC dc_;
};

void Folder(Painter& p, double l, double t, double w, double h) {
  p.Rect(l, t, l + w * 0.45, t + h * 0.3, RGB(240, 200, 60), RGB(120, 90, 0));
  p.Rect(l, t + h * 0.18, l + w, t + h, RGB(250, 215, 90), RGB(120, 90, 0));
}

void Computer(Painter& p, double l, double t, double w, double h) {
  p.Rect(l, t, l + w, t + h * 0.72, RGB(200, 200, 200), RGB(60, 60, 60));
  p.Rect(l + 3, t + 3, l + w - 3, t + h * 0.72 - 3, RGB(0, 90, 160), RGB(60, 60, 60));
  p.Rect(l + w * 0.25, t + h * 0.84, l + w * 0.75, t + h, RGB(170, 170, 170), RGB(60, 60, 60));
}

void Magnifier(Painter& p, double x, double y, double radius) {
  p.Circle(x, y, radius, RGB(200, 230, 255), RGB(40, 40, 40), 2);
  const double d = radius / std::numbers::sqrt2;
  p.Line(x + d, y + d, x + d * 2.2, y + d * 2.2, RGB(90, 50, 20), 3);
}

void Sheet(Painter& p, double x, double y) {
  p.Rect(x - 6, y - 8, x + 6, y + 8, RGB(255, 255, 255), RGB(80, 80, 80));
  for (int i = 1; i <= 3; ++i) p.Line(x - 4, y - 8 + 4 * i, x + 4, y - 8 + 4 * i, RGB(150, 150, 150), 1);
}

void Draw(HDC dc, const RECT& area, const DrawnState& s) {
  FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
  if (s.kind == Animation::None) return;
  Painter p(dc);
  const double w = area.right, h = area.bottom;
  const double phase = 2 * std::numbers::pi * s.frame / kFramesPerCycle;
  const double boxL = w / 2 - h * 0.6, boxT = h * 0.12, boxW = h * 1.2, boxH = h * 0.8;
  const double cx = boxL + boxW / 2, cy = boxT + boxH / 2;
  switch (s.kind) {
    case Animation::FindFolder:
      Folder(p, boxL, boxT, boxW, boxH);
      Magnifier(p, cx + std::cos(phase) * h * 0.35, cy + std::sin(phase) * h * 0.15, h * 0.18);
      break;
    case Animation::FindComputer:
      Computer(p, boxL, boxT, boxW, boxH);
      Magnifier(p, cx + std::cos(phase) * h * 0.45, cy - h * 0.05 + std::sin(phase) * h * 0.12, h * 0.18);
      break;
    case Animation::CopyFiles: {
      const double fw = h * 0.8, fh = h * 0.55, top = h * 0.35;
      const double fromL = w * 0.12, toL = w * 0.88 - fw;
      Folder(p, fromL, top, fw, fh);
      Folder(p, toL, top, fw, fh);
      const double t = static_cast<double>(s.frame) / kFramesPerCycle;
      Sheet(p, fromL + fw / 2 + (toL - fromL) * t, top - std::sin(t * std::numbers::pi) * h * 0.3 + 6);
      break;
    }
    case Animation::None:
      break;
  }
}

// Paints through a memory bitmap, so the moving picture does not flicker.
template <typename Fn>
void Buffered(HWND window, Fn draw) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT area;
  GetClientRect(window, &area);
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, area.right, area.bottom);
  HGDIOBJ old = SelectObject(memory, bitmap);
  draw(memory, area);
  BitBlt(dc, 0, 0, area.right, area.bottom, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  EndPaint(window, &ps);
}

LRESULT CALLBACK DrawnProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  auto* state = reinterpret_cast<DrawnState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new DrawnState));
      break;
    case WM_NCDESTROY:
      delete state;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case WM_TIMER:
      if (state != nullptr) {
        state->frame = (state->frame + 1) % kFramesPerCycle;
        InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Buffered(window, [state](HDC dc, const RECT& area) {
        if (state != nullptr) Draw(dc, area, *state);
      });
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wp, lp);
}

LRESULT CALLBACK SpinnerProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  switch (message) {
    case WM_TIMER:
      SetWindowLongPtrW(window, GWLP_USERDATA, (GetWindowLongPtrW(window, GWLP_USERDATA) + 1) % 12);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Buffered(window, [window](HDC dc, const RECT& area) {
        FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
        const int frame = static_cast<int>(GetWindowLongPtrW(window, GWLP_USERDATA));
        Painter p(dc);
        const double cx = area.right / 2.0, cy = area.bottom / 2.0;
        const double outer = std::min(area.right, area.bottom) / 2.0 - 1;
        for (int i = 0; i < 12; ++i) {
          const int age = (frame - i + 12) % 12;
          const int shade = 80 + age * 14;  // the newest spoke darkest
          const double a = 2 * std::numbers::pi * i / 12;
          p.Line(cx + std::cos(a) * outer * 0.45, cy + std::sin(a) * outer * 0.45, cx + std::cos(a) * outer,
                 cy + std::sin(a) * outer, RGB(shade / 3, shade, std::min(255, shade + 80)), 2);
        }
      });
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wp, lp);
}

void RegisterOnce(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &existing)) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

}  // namespace

unsigned AviDistinctFrames(const void* data, unsigned size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  auto word = [bytes](unsigned at) {
    return static_cast<unsigned>(bytes[at]) | static_cast<unsigned>(bytes[at + 1]) << 8 |
           static_cast<unsigned>(bytes[at + 2]) << 16 | static_cast<unsigned>(bytes[at + 3]) << 24;
  };
  if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "AVI ", 4) != 0) return 0;
  // Walks the chunks, stepping into every list; a video chunk's id ends in
  // "dc" (compressed) or "db" (uncompressed).
  std::vector<std::string_view> frames;
  for (unsigned at = 12; at + 8 <= size;) {
    const unsigned length = word(at + 4);
    if (std::memcmp(bytes + at, "LIST", 4) == 0) {
      at += 12;
      continue;
    }
    if (length > size - at - 8) break;
    if (std::memcmp(bytes + at + 2, "dc", 2) == 0 || std::memcmp(bytes + at + 2, "db", 2) == 0) {
      const std::string_view frame(reinterpret_cast<const char*>(bytes + at + 8), length);
      if (std::find(frames.begin(), frames.end(), frame) == frames.end()) frames.push_back(frame);
    }
    at += 8 + length + (length & 1);
  }
  return static_cast<unsigned>(frames.size());
}

AnimationView::AnimationView(HWND parent, int id, int x, int y, int w, int h, bool still) : still_(still) {
  RegisterOnce(kDrawnClass, DrawnProc);
  control_ = Child(parent, ANIMATE_CLASSW, L"", ACS_CENTER | ACS_TRANSPARENT, x, y, w, h, id);
  drawn_ = Child(parent, kDrawnClass, L"", 0, x, y, w, h, id + 1);
}

void AnimationView::SetKind(Animation kind) {
  kind_ = kind;
  auto* state = reinterpret_cast<DrawnState*>(GetWindowLongPtrW(drawn_, GWLP_USERDATA));
  KillTimer(drawn_, kTimer);
  SendMessageW(control_, ACM_OPENW, 0, 0);  // closes the clip
  system_ = false;
  if (kind != Animation::None) {
    const int id = ShellAviId(kind);
    system_ =
        SystemAnimationMoves(id) && SendMessageW(control_, ACM_OPENW, reinterpret_cast<WPARAM>(Shell32()), id) != 0;
  }
  if (kind != Animation::None)
    TraceLine(std::string("animation ") + (system_ ? "system " : "drawn ") + std::to_string(ShellAviId(kind)));
  if (state != nullptr) {
    state->kind = system_ ? Animation::None : kind;
    state->frame = 0;
  }
  if (system_) {
    if (!still_) SendMessageW(control_, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
  } else if (kind != Animation::None && !still_) {
    SetTimer(drawn_, kTimer, kFrameMs, nullptr);
  }
  Show(shown_);
  InvalidateRect(drawn_, nullptr, TRUE);
}

void AnimationView::Show(bool shown) {
  shown_ = shown;
  ShowWindow(control_, shown && system_ ? SW_SHOWNA : SW_HIDE);
  ShowWindow(drawn_, shown && !system_ ? SW_SHOWNA : SW_HIDE);
}

HWND CreateSpinner(HWND parent, int id, int x, int y, int w, int h, bool still) {
  RegisterOnce(kSpinnerClass, SpinnerProc);
  HWND spinner = Child(parent, kSpinnerClass, L"", 0, x, y, w, h, id);
  if (!still) SetTimer(spinner, kTimer, kFrameMs, nullptr);
  return spinner;
}

}  // namespace dorvik::win
