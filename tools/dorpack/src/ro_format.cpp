#include "ro_format.h"

#include <regex>

#include "distribution/codepage.h"
#include "common_texts.h"
#include "dorpack/routine_name.h"
#include "macro_source.h"

namespace dorpack {

namespace {

// The texts of this file.
namespace text {

std::string NotName(const std::string& line) {
  return "строка имени «" + line + "» не называет программу (" + common_text::kRoutineNameRule +
         "; Cache добавляет «^INT^...»)";
}
std::string BadType(const std::string& name, const std::string& type) {
  return "программа " + name + " — типа «" + type + "»; " + common_text::kPackedTypes;
}
constexpr const char* kCutInHeader = "файл кончается внутри двух строк заголовка файла вывода программ";
std::string CutAfter(std::size_t routines) {
  const bool one = routines % 10 == 1 && routines % 100 != 11;
  return "файл кончается после " + std::to_string(routines) + (one ? " программы" : " программ") +
         " без пустой строки, которой кончается файл вывода программ (файл обрезан?)";
}
std::string CutInside(const std::string& name, int nameLine) {
  return "файл кончается внутри программы " + name + " (её имя в строке " + std::to_string(nameLine) +
         ") раньше пустой строки, которой она кончается (файл обрезан?)";
}
std::string TextAfterEnd(std::size_t endLine) {
  return "текст после пустой строки, которой кончаются программы файла вывода программ (строка " +
         std::to_string(endLine) + ")";
}

}  // namespace text

struct NameLine {
  std::string name;
  SourceKind kind = SourceKind::kInt;
};

// A bare name, or Cache's "name^TYPE^..." (its other pieces are the routine's
// version and date, which the installer has no use for).
NameLine ParseNameLine(std::string_view line, const Origin& origin) {
  NameLine parsed;
  const auto caret = line.find('^');
  parsed.name = std::string(line.substr(0, caret));
  if (!IsValidRoutineName(parsed.name)) {
    throw PackError(Where(origin) + text::NotName(dorvik::Cp866ToUtf8(line)));
  }
  if (caret != std::string_view::npos) {
    std::string_view type = line.substr(caret + 1);
    type = type.substr(0, type.find('^'));
    const auto kind = SourceKindNamed(type);
    if (!kind) {
      throw PackError(Where(origin) + text::BadType(parsed.name, dorvik::Cp866ToUtf8(type)));
    }
    parsed.kind = *kind;
  }
  return parsed;
}

bool IsNameLine(std::string_view line) { return IsValidRoutineName(line.substr(0, line.find('^'))); }

}  // namespace

bool LooksLikeRoutineOutput(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (lines.size() < 3 && start < text.size()) {
    const auto end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? text.npos : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end == std::string_view::npos ? text.size() : end + 1;
  }
  if (lines.size() < 3 || !IsNameLine(lines[2])) return false;
  static const std::regex gtm(R"(^(GT\.M|YottaDB) \d{1,2}-[A-Za-z]{3}-\d{4} \d{1,2}:\d{2}:\d{2}.*)");
  const std::string second(lines[1]);
  return second.rfind("%RO on ", 0) == 0 || lines[0].find("~Format=") != std::string_view::npos ||
         std::regex_match(second, gtm);
}

std::vector<RoutineSpec> ReadRoutineOutput(std::string_view text, const std::string& file, RoutineEncoding encoding,
                                           Warnings* warnings) {
  const auto lines = SplitLines(text, file);
  if (lines.size() < 2) {
    throw PackError(Where(Origin{file, static_cast<int>(lines.size()) + 1}) + text::kCutInHeader);
  }
  std::vector<RoutineSpec> routines;
  std::vector<SourceKind> kinds;
  std::size_t at = 2;  // lines[at] is line at + 1 of the file
  for (;;) {
    if (at == lines.size()) {
      throw PackError(Where(Origin{file, static_cast<int>(at) + 1}) + text::CutAfter(routines.size()));
    }
    if (lines[at].empty()) break;
    const Origin nameAt{file, static_cast<int>(at) + 1};
    const NameLine name = ParseNameLine(LineToCp866(lines[at], encoding, nameAt), nameAt);
    RoutineSpec routine;
    routine.name = name.name;
    routine.file = file;
    routine.nameLine = nameAt.line;
    routine.firstLine = nameAt.line + 1;
    ++at;
    while (at < lines.size() && !lines[at].empty()) {
      routine.lines.push_back(LineToCp866(lines[at], encoding, Origin{file, static_cast<int>(at) + 1}));
      ++at;
    }
    if (at == lines.size()) {
      throw PackError(Where(Origin{file, static_cast<int>(at) + 1}) + text::CutInside(routine.name, routine.nameLine));
    }
    ++at;  // the empty line that closes the routine
    routines.push_back(std::move(routine));
    kinds.push_back(name.kind);
  }
  for (std::size_t rest = at; rest < lines.size(); ++rest) {
    if (!lines[rest].empty()) {
      throw PackError(Where(Origin{file, static_cast<int>(rest) + 1}) + text::TextAfterEnd(at + 1));
    }
  }
  for (std::size_t i = 0; i < routines.size(); ++i) {
    routines[i].placeNumber = i + 1;
    routines[i].placeCount = routines.size();
    AcceptAsIntCode(routines[i], kinds[i], warnings);
  }
  return routines;
}

std::size_t WriteRoutineOutput(const std::vector<NamedRoutine>& routines, const std::string& header1,
                               const std::string& header2, std::ostream& out) {
  std::size_t blanked = 0;
  out << header1 << '\n' << header2 << '\n';
  for (const auto& routine : routines) {
    out << routine.name << '\n';
    for (const auto& line : routine.lines) {
      if (line.empty()) ++blanked;
      out << (line.empty() ? " " : line) << '\n';
    }
    out << '\n';
  }
  out << "\n\n";
  return blanked;
}

}  // namespace dorpack
