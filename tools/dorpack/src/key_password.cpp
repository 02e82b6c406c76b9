#include "key_password.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

#include <iostream>

namespace dorpack {

namespace {

// Turns echo off on standard input while it lives, when that is a terminal.
class EchoOff {
 public:
  EchoOff() {
#ifdef _WIN32
    input_ = GetStdHandle(STD_INPUT_HANDLE);
    terminal_ = GetConsoleMode(input_, &saved_) != 0;
    if (terminal_) SetConsoleMode(input_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
#else
    terminal_ = isatty(0) != 0 && tcgetattr(0, &saved_) == 0;
    if (terminal_) {
      termios quiet = saved_;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(0, TCSAFLUSH, &quiet);
    }
#endif
  }
  ~EchoOff() {
#ifdef _WIN32
    if (terminal_) SetConsoleMode(input_, saved_);
#else
    if (terminal_) tcsetattr(0, TCSAFLUSH, &saved_);
#endif
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  bool Terminal() const { return terminal_; }

 private:
  bool terminal_ = false;
#ifdef _WIN32
  HANDLE input_{};
  DWORD saved_ = 0;
#else
  termios saved_{};
#endif
};

}  // namespace

std::optional<std::string> ReadKeyPassword(const std::string& prompt) {
  const EchoOff echo;
  if (echo.Terminal()) std::cerr << prompt << std::flush;
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (echo.Terminal()) std::cerr << "\n";
  if (!read) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace dorpack
