#include "app/log_file.h"

#include <fstream>
#include <system_error>

#include "app/new_file.h"
#include "distribution/codepage.h"

namespace dorvik {

void WriteLogHeader(InstallLog& log, const CalendarDate& today, double startTime, const std::string& installerVersion) {
  log.Add(Ru("Протокол установки дистрибутива. ") + FormatShortDate(today) + " " + FormatLongTime(startTime));
  log.Add(Ru("Версия установщика: ") + installerVersion);
  log.Add("");
}

std::filesystem::path FirstFreeLogName(const std::filesystem::path& folder, const std::filesystem::path& logPath,
                                       unsigned from, unsigned* number) {
  const std::string base = logPath.stem().string();
  const std::string ext = logPath.extension().string();
  auto name = [&](unsigned n) { return folder / (n == 0 ? base + ext : base + std::to_string(n) + ext); };
  unsigned counter = from;
  std::filesystem::path candidate = name(counter);
  std::error_code ec;
  // A name that cannot even be examined is tried as it is; the write decides.
  while (std::filesystem::exists(candidate, ec) && !ec) candidate = name(++counter);
  if (number != nullptr) *number = counter;
  return candidate;
}

namespace {

bool WriteLines(const InstallLog& log, const std::filesystem::path& path) {
  std::string bytes;
  for (const auto& line : log.Lines()) {
    bytes += line;
    bytes += "\r\n";
  }
  // Exclusive creation: a protocol that appeared meanwhile is not replaced.
  return WriteNewFile(path, bytes);
}

}  // namespace

LogFileResult WriteLogFile(const InstallLog& log, const std::filesystem::path& logPath,
                           const std::filesystem::path& fallbackFolder) {
  LogFileResult result;
  const auto folder = logPath.has_parent_path() ? logPath.parent_path() : std::filesystem::path(".");
  unsigned number = 0;
  result.path = FirstFreeLogName(folder, logPath, 0, &number);
  if (WriteLines(log, result.path)) {
    result.written = true;
    return result;
  }
  result.usedFallback = true;
  // The name chosen beside the program is the one tried there; a file of
  // that name in the fallback folder moves the numbering on from it.
  result.path = FirstFreeLogName(fallbackFolder, logPath, number);
  result.written = WriteLines(log, result.path);
  return result;
}

}  // namespace dorvik
