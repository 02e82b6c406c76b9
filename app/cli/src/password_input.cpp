#include "cli/password_input.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>

#include "cli_texts.h"

namespace dorvik::cli {

namespace {

// A password longer than this is not a password.
constexpr std::size_t kMaxPassword = 4096;

void DropLineEnd(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

}  // namespace

std::string ReadPasswordFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) {
    throw PasswordFileError(texts::PasswordFileUnopenable(file.string(), std::strerror(errno)));
  }
  std::string line;
  std::getline(in, line);
  if (in.bad()) throw PasswordFileError(texts::PasswordFileUnreadable(file.string()));
  DropLineEnd(line);
  if (line.empty()) throw PasswordFileError(texts::PasswordFileEmpty(file.string()));
  if (line.size() > kMaxPassword) throw PasswordFileError(texts::PasswordTooLong(file.string()));
  return line;
}

#ifdef _WIN32

// On Windows the terminal is the console: the prompt is written and the line
// read as UTF-16 with echo off, the line handed on in UTF-8 (the text
// encoding of the Windows command line installer).
std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD saved = 0, outMode = 0;
  if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &saved) || !GetConsoleMode(out, &outMode)) return std::nullopt;
  const auto wide = [](const std::string& utf8) {
    std::wstring w(utf8.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(),
                                      static_cast<int>(w.size()));
    w.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return w;
  };
  const std::wstring shown = wide(prompt);
  DWORD written = 0;
  WriteConsoleW(out, shown.data(), static_cast<DWORD>(shown.size()), &written, nullptr);
  SetConsoleMode(in, (saved | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  std::wstring line;
  bool ended = false;
  wchar_t c = 0;
  DWORD got = 0;
  while (ReadConsoleW(in, &c, 1, &got, nullptr) && got == 1) {
    if (c == L'\n') {
      ended = true;
      break;
    }
    if (c != L'\r' && line.size() < kMaxPassword) line += c;
  }
  SetConsoleMode(in, saved);
  WriteConsoleW(out, L"\r\n", 2, &written, nullptr);
  if (!ended) return std::nullopt;
  std::string utf8(line.size() * 4, '\0');
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(),
                                    static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return utf8;
}

#else

std::optional<std::string> ReadPasswordFromTerminal(int fd, const std::string& prompt) {
  termios saved{};
  if (fd < 0 || !isatty(fd) || tcgetattr(fd, &saved) != 0) return std::nullopt;
  termios quiet = saved;
  quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
  quiet.c_lflag |= ICANON;
  [[maybe_unused]] auto shown = ::write(fd, prompt.data(), prompt.size());
  if (tcsetattr(fd, TCSAFLUSH, &quiet) != 0) return std::nullopt;
  std::string line;
  bool ended = false;
  char c = 0;
  while (true) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (c == '\n') {
      ended = true;
      break;
    }
    if (line.size() < kMaxPassword) line += c;
  }
  tcsetattr(fd, TCSAFLUSH, &saved);
  // The typed line end was not echoed: end the prompt's line.
  [[maybe_unused]] auto newline = ::write(fd, "\n", 1);
  if (!ended) return std::nullopt;
  DropLineEnd(line);
  return line;
}

int OpenControllingTerminal() { return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }

std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt) {
  const int terminal = OpenControllingTerminal();
  std::optional<std::string> typed = ReadPasswordFromTerminal(terminal, prompt);
  if (terminal >= 0) ::close(terminal);
  return typed;
}

#endif

}  // namespace dorvik::cli
