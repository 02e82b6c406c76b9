// The terminal as the command-line installer sees it, one place per
// platform: whether a stream is a terminal, its width, writing and reading
// text in the locale's encoding, and the program's arguments. On Windows the
// locale's encoding is UTF-8: arguments come from the wide command line,
// text for a console goes out through WriteConsoleW and comes in through
// ReadConsoleW, and redirected output holds UTF-8 bytes.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace dorvik::cli {

// The encoding of arguments, answers and output (iconv's name for it).
std::string LocaleCodeset();

// The arguments after the program's name, in the locale's encoding.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Whether standard input (0) or standard error (2) is a terminal.
bool IsTerminal(int stream);

// The terminal's width in columns (80 when unknown).
int TerminalColumns();

// Writes text in the locale's encoding to stdout or stderr.
void PutText(std::FILE* stream, const std::string& localText);

// A line typed on standard input, without its line end; false at its end.
bool ReadLine(std::string& line);

// A path as text in the locale's encoding.
std::string PathText(const std::filesystem::path& path);

}  // namespace dorvik::cli
