#include "interrupt.h"

#include <csignal>
#include <unistd.h>

namespace dorvik::cli {

namespace {

volatile std::sig_atomic_t pendingPresses = 0;
// Written by the handler: set before it is installed, never changed after.
std::string endLine;

void OnInterrupt(int) {
  pendingPresses = pendingPresses + 1;
  if (pendingPresses >= 3) {
    (void)!write(STDERR_FILENO, endLine.data(), endLine.size());
    _exit(130);
  }
}

}  // namespace

void InstallInterruptHandler(const std::string& endText) {
  endLine = "\n" + endText + "\n";
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // server calls and prompts go on
  sigaction(SIGINT, &action, nullptr);
}

bool TakeInterrupt() {
  if (pendingPresses == 0) return false;
  pendingPresses = 0;
  return true;
}

}  // namespace dorvik::cli
