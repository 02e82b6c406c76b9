// The gauge (gaP): a bar in blue with its percentage written across it,
// drawn by the program (the system progress bar shows no text).
#pragma once

#include <windows.h>

namespace dorvik::win {

// A gauge child window; set its position and maximum with SetGauge.
HWND CreateGauge(HWND parent, int id, int x, int y, int w, int h);
void SetGauge(HWND gauge, int position, int maximum);

}  // namespace dorvik::win
