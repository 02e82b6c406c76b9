// The source password read from a terminal without echo, on a pseudo
// terminal whose other side plays the user.
#include "cli/password_input.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace dorvik::cli {
namespace {

// What the terminal shows, read from the user's side until it is quiet.
std::string Shown(int user) {
  std::string out;
  char buffer[256];
  pollfd p{user, POLLIN, 0};
  while (::poll(&p, 1, 200) > 0) {
    const ssize_t n = ::read(user, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

TEST(PasswordInput, TerminalReadsALineWithoutEchoAndRestoresIt) {
  int user = -1, program = -1;
  ASSERT_EQ(::openpty(&user, &program, nullptr, nullptr, nullptr), 0);
  std::optional<std::string> got;
  std::thread reader([&] { got = ReadPasswordFromTerminal(program, "Password: "); });
  // The prompt first, then the user types once echo is off.
  for (int i = 0; i < 100; ++i) {
    termios now{};
    tcgetattr(program, &now);
    if (!(now.c_lflag & ECHO)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(::write(user, "s3cret\r\n", 8), 8);
  reader.join();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, "s3cret");
  const std::string shown = Shown(user);
  EXPECT_NE(shown.find("Password: "), std::string::npos) << shown;
  EXPECT_EQ(shown.find("s3cret"), std::string::npos) << "the password was echoed: " << shown;
  termios after{};
  ASSERT_EQ(tcgetattr(program, &after), 0);
  EXPECT_TRUE(after.c_lflag & ECHO) << "echo was not restored";

  // The input ends before a line: no password.
  std::thread again([&] { got = ReadPasswordFromTerminal(program, "Password: "); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const char eof = 4;  // Ctrl-D on an empty line
  ASSERT_EQ(::write(user, &eof, 1), 1);
  again.join();
  EXPECT_FALSE(got.has_value());
  ::close(user);
  ::close(program);
}

TEST(PasswordInput, NotATerminal) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  EXPECT_FALSE(ReadPasswordFromTerminal(fds[0], "Password: ").has_value());
  EXPECT_FALSE(ReadPasswordFromTerminal(-1, "Password: ").has_value());
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace dorvik::cli
