// Runs a program in a folder with extra environment variables, standard
// input from /dev/null and no controlling terminal, and collects its output
// and exit status.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace dorvik::testing {

struct ProgramResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// With interruptAfterMs > 0 the program gets SIGINT (as from Ctrl-C) that
// many milliseconds after its start.
// A file's bytes, whole; "" when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);

// Writes `text` as the file's whole content.
void WriteFile(const std::filesystem::path& file, const std::string& text);

ProgramResult RunProgram(const std::filesystem::path& binary, const std::vector<std::string>& args,
                         const std::filesystem::path& folder, const std::vector<std::string>& environment = {},
                         int interruptAfterMs = 0);

}  // namespace dorvik::testing
