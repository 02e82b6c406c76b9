#include "macro_source.h"

#include <cctype>

#include "distribution/codepage.h"

namespace dorpack {

namespace {

// The texts of this file.
namespace text {

std::string Directive(const std::string& directive) { return "директиву «" + directive + "»"; }
std::string Macro(const std::string& macro) { return "макрос «" + macro + "»"; }
std::string MacroSource(const std::string& routine, std::size_t line, const std::string& syntax,
                        const std::string& name) {
  return routine + " — исходный текст с макросами (строка " + std::to_string(line) + " содержит " + syntax +
         "), который сервер компилирует в код INT; установщик сохраняет код INT как есть, поэтому выгрузите "
         "INT-форму программы (" +
         name + ".INT, скомпилированную сервером из неё) и упакуйте её";
}
std::string NoMacroSyntax(const std::string& routine) {
  return routine + " не содержит синтаксиса макросов (ни директив «#», ни макросов «$$$») и упаковывается как код INT";
}

}  // namespace text

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// What in the line is macro syntax, in UTF-8: a directive ("#define", "#include", "#;"
// ...) as the line's first character after blanks, or a "$$$" macro call;
// empty when the line holds neither.
std::string MacroSyntaxIn(std::string_view line) {
  const auto first = line.find_first_not_of(" \t");
  if (first != std::string_view::npos && line[first] == '#') {
    const auto end = line.find_first_of(" \t(", first + 1);
    return text::Directive(dorvik::Cp866ToUtf8(line.substr(first, end == std::string_view::npos ? end : end - first)));
  }
  if (const auto at = line.find("$$$"); at != std::string_view::npos) {
    auto end = at + 3;
    while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) != 0 || line[end] == '%')) ++end;
    return text::Macro(dorvik::Cp866ToUtf8(line.substr(at, end - at)));
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
  const std::string what = "программа " + std::string(SourceKindName(kind)) + " " + routine.name;
  for (std::size_t i = 0; i < routine.lines.size(); ++i) {
    const std::string syntax = MacroSyntaxIn(routine.lines[i]);
    if (syntax.empty()) continue;
    throw PackError(Where(LineOrigin(routine, i)) + text::MacroSource(what, i + 1, syntax, routine.name));
  }
  if (warnings != nullptr) {
    warnings->push_back(Where(Origin{FileAndPlace(routine), 0}) + text::NoMacroSyntax(what));
  }
}

}  // namespace dorpack
