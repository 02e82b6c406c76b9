#include "gauge.h"

#include <string>

#include "win_base.h"

namespace dorvik::win {

namespace {

const wchar_t* const kGaugeClass = L"VelmoraGauge";

LRESULT CALLBACK GaugeProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_ERASEBKGND) return 1;
  if (message != WM_PAINT) return DefWindowProcW(window, message, wp, lp);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT area;
  GetClientRect(window, &area);
  const int position = LOWORD(GetWindowLongPtrW(window, GWLP_USERDATA));
  const int maximum = HIWORD(GetWindowLongPtrW(window, GWLP_USERDATA));
  const int percent = maximum == 0 ? 0 : 100 * position / maximum;
  RECT inner = area;
  DrawEdge(dc, &inner, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  FillRect(dc, &inner, GetSysColorBrush(COLOR_WINDOW));
  RECT bar = inner;
  bar.right = inner.left + (maximum == 0 ? 0 : MulDiv(inner.right - inner.left, position, maximum));
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 160));
  FillRect(dc, &bar, blue);
  DeleteObject(blue);
  const std::wstring text = std::to_wstring(percent) + L"%";
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old = SelectObject(dc, DialogFont());
  // The text is white over the bar and black beside it.
  SetTextColor(dc, RGB(0, 0, 0));
  DrawTextW(dc, text.c_str(), -1, &inner, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  HRGN clip = CreateRectRgnIndirect(&bar);
  SelectClipRgn(dc, clip);
  SetTextColor(dc, RGB(255, 255, 255));
  DrawTextW(dc, text.c_str(), -1, &inner, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectClipRgn(dc, nullptr);
  DeleteObject(clip);
  SelectObject(dc, old);
  EndPaint(window, &ps);
  return 0;
}

}  // namespace

HWND CreateGauge(HWND parent, int id, int x, int y, int w, int h) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (!GetClassInfoExW(GetModuleHandleW(nullptr), kGaugeClass, &existing)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = GaugeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kGaugeClass;
    RegisterClassExW(&wc);
  }
  HWND gauge = Child(parent, kGaugeClass, L"", WS_VISIBLE, x, y, w, h, id);
  SetGauge(gauge, 0, 100);
  return gauge;
}

// Position and maximum are kept in the window's user data (both fit 16
// bits: the callers' maximum is the number of routines or 100).
void SetGauge(HWND gauge, int position, int maximum) {
  while (maximum > 0xFFFF) {
    maximum /= 2;
    position /= 2;
  }
  SetWindowLongPtrW(gauge, GWLP_USERDATA, MAKELONG(position, maximum));
  InvalidateRect(gauge, nullptr, FALSE);
}

}  // namespace dorvik::win
