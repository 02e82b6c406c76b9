// Writing the installation protocol to its file at the end of the run.
#pragma once

#include <filesystem>
#include <string>

#include "distribution/install_log.h"
#include "distribution/timefmt.h"

namespace dorvik {

// The protocol's opening lines: "Протокол установки дистрибутива. " with the
// date and start time, the installer's version, and an empty line.
void WriteLogHeader(InstallLog& log, const CalendarDate& today, double startTime, const std::string& installerVersion);

// The first free name of the series dorvik.txt, dorvik1.txt, dorvik2.txt, ...
// in `folder` for the base name "dorvik" of `logPath`, counting from number
// `from` (0 is dorvik.txt); `number`, when given, receives the number taken.
std::filesystem::path FirstFreeLogName(const std::filesystem::path& folder, const std::filesystem::path& logPath,
                                       unsigned from = 0, unsigned* number = nullptr);

struct LogFileResult {
  std::filesystem::path path;  // the file written, or the last one tried
  bool usedFallback = false;
  bool written = false;
};

// Writes every line followed by CR LF, bytes as held, to the first free name
// beside logPath; when that fails, to the same name in fallbackFolder, or the
// next free name of the series after it there. An earlier protocol is never
// replaced in either folder.
// Opening the file for the user is the caller's business (the result says
// which file and which folder).
LogFileResult WriteLogFile(const InstallLog& log, const std::filesystem::path& logPath,
                           const std::filesystem::path& fallbackFolder);

}  // namespace dorvik
