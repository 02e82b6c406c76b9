#include "routine_files.h"

#ifdef _WIN32
#include <windows.h>
#include <shlwapi.h>
#else
#include <fnmatch.h>
#endif

#include <algorithm>
#include <cctype>
#include <system_error>

#include "common_texts.h"
#include "distribution/codepage.h"
#include "dorpack/routine_name.h"
#include "macro_source.h"
#include "ro_format.h"
#include "udl_format.h"
#include "xml_export.h"

namespace dorpack {

namespace fs = std::filesystem;

namespace {

// The texts of this file.
namespace text {

std::string HeaderDisagrees(const std::string& header, const std::string& file) {
  return "заголовок UDL называет программу " + header + ", а имя файла — " + file;
}
constexpr const char* kEmptyName = "пустое имя файла программы";
std::string WildcardInFolder(const std::string& entry) {
  return "«" + entry +
         "»: знаки шаблона допустимы только в имени файла, не в его папке (для папок пакета задайте "
         "{\"root\": ..., \"files\": \"**/*.int\"})";
}
std::string NoFile(const std::string& file) { return "нет файла программы " + file; }
std::string CannotList(const std::string& folder, const std::string& why) {
  return "не читается содержимое папки " + folder + ": " + why;
}
std::string NoMatch(const std::string& pattern, const std::string& folder) {
  return "шаблону «" + pattern + "» не отвечает ни один файл в папке " + folder;
}
std::string NoMatchBelow(const std::string& pattern, const std::string& folder) {
  return "шаблону «" + pattern + "» не отвечает ни один файл в папке " + folder + " и её вложенных папках";
}
std::string RootNotFolder(const std::string& folder) { return "корень " + folder + " — не папка"; }
constexpr const char* kFilesEmpty = "поле «files» пусто; задайте шаблон, например \"**/*.int\"";
std::string NotRoutineFile(const std::string& file) {
  return file +
         " — не файл программ (имя должно кончаться на .int, .mac, .inc, .m или .rtn для одной программы, "
         "на .ro, .rsa или .rtn для файла вывода программ, на .xml для экспорта XML)";
}

}  // namespace text

// Whether a file name matches a wildcard pattern: as the shell matches on
// POSIX (a leading dot only by a dot), as the system matches on Windows
// (letter case aside, as Windows names go).
bool NameMatches(const std::string& pattern, const std::string& name) {
#ifdef _WIN32
  const std::wstring widePattern = fs::path(pattern).wstring();
  return PathMatchSpecW(fs::path(name).wstring().c_str(), widePattern.c_str()) != FALSE;
#else
  return fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) == 0;
#endif
}

bool HasWildcard(std::string_view text) { return text.find_first_of("*?[") != std::string_view::npos; }

[[noreturn]] void Refuse(const Origin& origin, const std::string& message) { throw PackError(Where(origin) + message); }

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto end = path.find_first_of("/\\", start);
    const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// Whether the path's parts match the pattern's parts, "**" matching any
// number of them.
bool PartsMatch(const std::vector<std::string>& pattern, std::size_t p, const std::vector<std::string>& path,
                std::size_t q) {
  if (p == pattern.size()) return q == path.size();
  if (pattern[p] == "**") {
    for (std::size_t skip = q; skip <= path.size(); ++skip) {
      if (PartsMatch(pattern, p + 1, path, skip)) return true;
    }
    return false;
  }
  return q < path.size() && NameMatches(pattern[p], path[q]) && PartsMatch(pattern, p + 1, path, q + 1);
}

bool HasExtension(const fs::path& file, std::string_view ext) {
  std::string actual = file.extension().string();
  std::transform(actual.begin(), actual.end(), actual.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return actual == ext;
}

bool IsMultiRoutineFile(const fs::path& file) {
  return HasExtension(file, ".ro") || HasExtension(file, ".rsa") || HasExtension(file, ".xml");
}

// One routine of a file; a UDL header of a .int, .mac or .inc file names it
// and gives its kind, which must agree with the name of the file.
std::vector<RoutineSpec> ReadOneRoutine(const RoutineSource& source, std::string_view text, RoutineEncoding encoding,
                                        Warnings* warnings) {
  RoutineSpec routine;
  routine.file = source.file.string();
  routine.name = *source.name;
  auto lines = SplitLines(text, routine.file);
  SourceKind kind = HasExtension(source.file, ".mac")   ? SourceKind::kMac
                    : HasExtension(source.file, ".inc") ? SourceKind::kInc
                                                        : SourceKind::kInt;
  const bool udl = HasExtension(source.file, ".int") || kind != SourceKind::kInt;
  if (udl && !lines.empty() && IsUdlHeaderLine(lines.front())) {
    const Origin headerAt{routine.file, 1};
    const UdlHeader header = ParseUdlHeader(LineToCp866(lines.front(), encoding, headerAt), headerAt);
    if (header.name != routine.name) {
      Refuse(headerAt, text::HeaderDisagrees(dorvik::Cp866ToUtf8(header.name), dorvik::Cp866ToUtf8(routine.name)));
    }
    kind = header.kind;
    lines.erase(lines.begin());
    routine.firstLine = 2;
    routine.nameLine = 1;
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    routine.lines.push_back(LineToCp866(lines[i], encoding, LineOrigin(routine, i)));
  }
  AcceptAsIntCode(routine, kind, warnings);
  return {std::move(routine)};
}

}  // namespace

std::vector<RoutineSource> ExpandRoutineEntry(const fs::path& baseFolder, const std::string& entry,
                                              const Origin& origin) {
  if (entry.empty()) Refuse(origin, text::kEmptyName);
  const fs::path relative(entry);
  const std::string namePattern = relative.filename().string();
  const fs::path folder = baseFolder / relative.parent_path();
  if (HasWildcard(relative.parent_path().string())) {
    Refuse(origin, text::WildcardInFolder(entry));
  }
  const auto source = [](const fs::path& file) {
    return RoutineSource{file, RoutineNameOfFile(file.filename().string())};
  };
  std::error_code ec;
  if (!HasWildcard(namePattern)) {
    const fs::path file = folder / namePattern;
    if (!fs::is_regular_file(file, ec)) Refuse(origin, text::NoFile(file.string()));
    return {source(file)};
  }

  std::vector<std::string> names;
  // A manifest in the working folder has an empty folder part.
  fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
  if (ec) Refuse(origin, text::CannotList(folder.string(), common_text::SystemFault(ec)));
  for (const auto& item : it) {
    const std::string name = item.path().filename().string();
    if (item.is_regular_file(ec) && NameMatches(namePattern, name)) names.push_back(name);
  }
  if (names.empty()) Refuse(origin, text::NoMatch(entry, folder.string()));
  std::sort(names.begin(), names.end());
  std::vector<RoutineSource> files;
  files.reserve(names.size());
  for (const auto& name : names) files.push_back(source(folder / name));
  return files;
}

std::vector<RoutineSource> ExpandPackageEntry(const fs::path& baseFolder, const std::string& root,
                                              const std::string& files, const Origin& origin) {
  const fs::path folder = baseFolder / root;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) Refuse(origin, text::RootNotFolder(folder.string()));
  const auto pattern = SplitPath(files);
  if (pattern.empty()) Refuse(origin, text::kFilesEmpty);

  std::vector<std::string> found;  // paths below the root, "/" between parts
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  if (ec) Refuse(origin, text::CannotList(folder.string(), common_text::SystemFault(ec)));
  for (auto end = fs::recursive_directory_iterator(); it != end; it.increment(ec)) {
    if (ec) Refuse(origin, text::CannotList(folder.string(), common_text::SystemFault(ec)));
    if (!it->is_regular_file(ec)) continue;
    const std::string below = it->path().lexically_relative(folder).generic_string();
    if (PartsMatch(pattern, 0, SplitPath(below), 0)) found.push_back(below);
  }
  if (found.empty()) Refuse(origin, text::NoMatchBelow(files, folder.string()));
  std::sort(found.begin(), found.end());
  std::vector<RoutineSource> sources;
  sources.reserve(found.size());
  for (const auto& below : found) {
    fs::path file = folder;
    for (const auto& part : SplitPath(below)) file /= part;  // the system's separators
    sources.push_back(RoutineSource{file, RoutineNameOfPath(below)});
  }
  return sources;
}

std::vector<RoutineSpec> ReadRoutineSource(const RoutineSource& source, RoutineEncoding encoding, const Origin& origin,
                                           Warnings* warnings) {
  const std::string file = source.file.string();
  const bool multi = IsMultiRoutineFile(source.file);
  if (!multi && !source.name) {
    Refuse(origin, text::NotRoutineFile(file));
  }
  std::string text = ReadWholeFile(file, origin);
  if (HasExtension(source.file, ".xml")) return ReadXmlExport(text, file, encoding, warnings);
  // Some Windows editors begin a UTF-8 file with a byte order mark, which is
  // no part of the first line.
  if (encoding == RoutineEncoding::kUtf8 && text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  if (multi || (HasExtension(source.file, ".rtn") && LooksLikeRoutineOutput(text))) {
    return ReadRoutineOutput(text, file, encoding, warnings);
  }
  return ReadOneRoutine(source, text, encoding, warnings);
}

}  // namespace dorpack
