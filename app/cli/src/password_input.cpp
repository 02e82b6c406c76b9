#include "cli/password_input.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

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
    throw PasswordFileError("cannot open the password file " + file.string() + ": " + std::strerror(errno));
  }
  std::string line;
  std::getline(in, line);
  if (in.bad()) throw PasswordFileError("cannot read the password file " + file.string());
  DropLineEnd(line);
  if (line.empty()) throw PasswordFileError("the password file " + file.string() + " holds no password on its first line");
  if (line.size() > kMaxPassword) throw PasswordFileError("the first line of " + file.string() + " is too long for a password");
  return line;
}

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

}  // namespace dorvik::cli
