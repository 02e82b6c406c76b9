#include "macro_source.h"

#include <cctype>

#include "distribution/codepage.h"

namespace dorpack {

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// What in the line is macro syntax: a directive ("#define", "#include", "#;"
// ...) as the line's first character after blanks, or a "$$$" macro call;
// empty when the line holds neither.
std::string MacroSyntaxIn(std::string_view line) {
  const auto first = line.find_first_not_of(" \t");
  if (first != std::string_view::npos && line[first] == '#') {
    const auto end = line.find_first_of(" \t(", first + 1);
    return "the directive \"" + std::string(line.substr(first, end == std::string_view::npos ? end : end - first)) +
           "\"";
  }
  if (const auto at = line.find("$$$"); at != std::string_view::npos) {
    auto end = at + 3;
    while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) != 0 || line[end] == '%')) ++end;
    return "the macro \"" + std::string(line.substr(at, end - at)) + "\"";
  }
  return {};
}

}  // namespace

std::optional<SourceKind> SourceKindNamed(std::string_view type) {
  if (EqualsNoCase(type, "INT")) return SourceKind::kInt;
  if (EqualsNoCase(type, "MAC")) return SourceKind::kMac;
  if (EqualsNoCase(type, "INC")) return SourceKind::kInc;
  return std::nullopt;
}

const char* SourceKindName(SourceKind kind) {
  switch (kind) {
    case SourceKind::kInt:
      return "INT";
    case SourceKind::kMac:
      return "MAC";
    case SourceKind::kInc:
      return "INC";
  }
  return "INT";
}

void AcceptAsIntCode(const RoutineSpec& routine, SourceKind kind, Warnings* warnings) {
  if (kind == SourceKind::kInt) return;
  const std::string what = std::string(SourceKindName(kind)) + " routine " + routine.name;
  for (std::size_t i = 0; i < routine.lines.size(); ++i) {
    const std::string syntax = MacroSyntaxIn(routine.lines[i]);
    if (syntax.empty()) continue;
    throw PackError(Where(LineOrigin(routine, i)) + "the " + what + " is macro source (line " + std::to_string(i + 1) +
                    " holds " + dorvik::Cp866ToUtf8(syntax) +
                    "), which the server compiles into INT code; the installer stores INT code as it stands, so "
                    "export the routine's INT form (" +
                    routine.name + ".INT, which the server compiled from it) and pack that");
  }
  if (warnings != nullptr) {
    const std::string where = routine.place.empty() ? routine.file : routine.file + ", " + routine.place;
    warnings->push_back(Where(Origin{where, 0}) + "the " + what +
                        " holds no macro syntax (no \"#\" directive, no \"$$$\" macro) and is packed as INT code");
  }
}

}  // namespace dorpack
