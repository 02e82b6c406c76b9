#include <clocale>
#include <string>
#include <vector>

#include "cli/install_command.h"
#include "console.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const std::vector<std::string> args = dorvik::cli::CommandLineArguments(argc, argv);
  return dorvik::cli::RunInstaller("dorvik-cli", args);
}
