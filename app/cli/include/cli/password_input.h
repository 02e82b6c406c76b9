// Where dorvik-cli takes the source password from, so that it need not
// stand on the command line (where /proc shows it to every user): a file,
// or the terminal with echo off.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace dorvik::cli {

// The password file cannot be used; the message says why.
class PasswordFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The first line of the file, without its line end (LF or CR LF), in the
// locale's encoding. Throws PasswordFileError when the file cannot be read
// or its first line is empty.
std::string ReadPasswordFile(const std::filesystem::path& file);

// Asks for the password on the process's terminal (the controlling terminal,
// or the console on Windows) with echo off. Nothing when there is none or
// the input ends before a line.
std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt);

#ifndef _WIN32
// Asks for the password on the terminal `fd` (read and written), with echo
// off while it is typed and restored after; the line without its end.
// Nothing when `fd` is not a terminal or the input ends before a line.
std::optional<std::string> ReadPasswordFromTerminal(int fd, const std::string& prompt);

// The process's controlling terminal (/dev/tty), or -1 when it has none.
int OpenControllingTerminal();
#endif

}  // namespace dorvik::cli
