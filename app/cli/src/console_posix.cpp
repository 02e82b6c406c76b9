#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>

#include "console.h"

namespace dorvik::cli {

std::string LocaleCodeset() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && *codeset != '\0' ? codeset : "ANSI_X3.4-1968";
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

bool IsTerminal(int stream) { return isatty(stream) != 0; }

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void PutText(std::FILE* stream, const std::string& localText) { std::fputs(localText.c_str(), stream); }

bool ReadLine(std::string& line) {
  if (!std::getline(std::cin, line)) {
    std::cin.clear();
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

std::string PathText(const std::filesystem::path& path) { return path.string(); }

}  // namespace dorvik::cli
