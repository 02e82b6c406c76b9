#include <clocale>
#include <string>
#include <vector>

#include "cli/install_command.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const std::vector<std::string> args(argv + 1, argv + argc);
  return dorvik::cli::RunInstaller("dorvik-cli", args);
}
