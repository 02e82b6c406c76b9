// Ctrl-C and Ctrl-Break on a Windows console: the same counting as the
// POSIX signal handler, through a console control handler (which Windows
// runs on a thread of its own).
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "interrupt.h"

namespace dorvik::cli {

namespace {

std::atomic<int> pendingPresses{0};
std::string endLine;  // set before the handler is installed

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (++pendingPresses >= 3) {
    std::fputs(endLine.c_str(), stderr);
    ExitProcess(130);
  }
  return TRUE;
}

}  // namespace

void InstallInterruptHandler(const std::string& endText) {
  endLine = "\n" + endText + "\n";
  SetConsoleCtrlHandler(OnControl, TRUE);
}

bool TakeInterrupt() { return pendingPresses.exchange(0) != 0; }

}  // namespace dorvik::cli
