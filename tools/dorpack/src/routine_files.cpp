#include "routine_files.h"

#ifdef _WIN32
#include <windows.h>
#include <shlwapi.h>
#else
#include <fnmatch.h>
#endif

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>

#include "distribution/codepage.h"
#include "dorpack/routine_name.h"

namespace dorpack {

namespace fs = std::filesystem;

namespace {

// Whether a file name matches a wildcard pattern: as the shell matches on
// POSIX (a leading dot only by a dot), as the system matches on Windows
// (letter case aside, as Windows names go).
bool NameMatches(const std::string& pattern, const fs::path& name) {
#ifdef _WIN32
  const std::wstring widePattern = fs::path(pattern).wstring();
  return PathMatchSpecW(name.wstring().c_str(), widePattern.c_str()) != FALSE;
#else
  return fnmatch(pattern.c_str(), name.string().c_str(), FNM_PERIOD) == 0;
#endif
}

bool HasWildcard(std::string_view text) { return text.find_first_of("*?[") != std::string_view::npos; }

[[noreturn]] void Refuse(const Origin& origin, const std::string& message) { throw PackError(Where(origin) + message); }

}  // namespace

std::vector<fs::path> ExpandRoutineEntry(const fs::path& baseFolder, const std::string& entry, const Origin& origin) {
  if (entry.empty()) Refuse(origin, "an empty routine file name");
  const fs::path relative(entry);
  const std::string namePattern = relative.filename().string();
  const fs::path folder = baseFolder / relative.parent_path();
  if (HasWildcard(relative.parent_path().string())) {
    Refuse(origin, "\"" + entry + "\": wildcards are allowed only in the file name, not in its folder");
  }
  std::error_code ec;
  if (!HasWildcard(namePattern)) {
    const fs::path file = folder / namePattern;
    if (!fs::is_regular_file(file, ec)) Refuse(origin, "the routine file " + file.string() + " does not exist");
    return {file};
  }

  std::vector<std::string> names;
  // A manifest in the working folder has an empty folder part.
  fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
  if (ec) Refuse(origin, "cannot list the folder " + folder.string() + ": " + ec.message());
  for (const auto& item : it) {
    const std::string name = item.path().filename().string();
    if (item.is_regular_file(ec) && NameMatches(namePattern, item.path().filename())) {
      names.push_back(name);
    }
  }
  if (names.empty()) Refuse(origin, "the pattern \"" + entry + "\" matches no file in " + folder.string());
  std::sort(names.begin(), names.end());
  std::vector<fs::path> files;
  files.reserve(names.size());
  for (const auto& name : names) files.push_back(folder / name);
  return files;
}

RoutineSpec ReadRoutineFile(const fs::path& file, RoutineEncoding encoding, const Origin& origin) {
  RoutineSpec routine;
  routine.file = file.string();
  const auto name = RoutineNameOfFile(file.filename().string());
  if (!name) Refuse(origin, routine.file + " is not a routine file (the name must end in .int, .m or .rtn)");
  routine.name = *name;

  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) Refuse(origin, "cannot open " + routine.file);
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) Refuse(origin, "cannot read " + routine.file);
  const std::string text = std::move(content).str();

  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    const std::size_t stop = end == std::string::npos ? text.size() : end;
    std::string_view line(text.data() + start, stop - start);
    if (encoding == RoutineEncoding::kUtf8) {
      try {
        routine.lines.push_back(dorvik::Utf8ToCp866(line));
      } catch (const dorvik::TextConversionError& e) {
        throw PackError(routine.file + ":" + std::to_string(routine.lines.size() + 1) + ": " + e.what() +
                        " (the file is read as UTF-8; set \"encoding\": \"cp866\" for code page 866 files)");
      }
    } else {
      routine.lines.emplace_back(line);
    }
    start = stop + 1;
  }
  return routine;
}

}  // namespace dorpack
