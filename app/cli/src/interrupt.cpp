#include "interrupt.h"

#include <csignal>
#include <unistd.h>

namespace dorvik::cli {

namespace {

volatile std::sig_atomic_t pendingPresses = 0;

void OnInterrupt(int) {
  pendingPresses = pendingPresses + 1;
  if (pendingPresses >= 3) {
    static const char text[] = "\ndorvik-cli: interrupted\n";
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
    _exit(130);
  }
}

}  // namespace

void InstallInterruptHandler() {
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
