#include "dorpack/routine_name.h"

#include "distribution/routine_name.h"

#include <array>

namespace dorpack {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  text.remove_prefix(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (Lower(text[i]) != suffix[i]) return false;
  }
  return true;
}

// GT.M cannot name a file "%X.m" in every file system, so it writes "_X.m".
std::string PercentFromUnderscore(std::string name) {
  if (!name.empty() && name.front() == '_') name.front() = '%';
  return name;
}

}  // namespace

bool IsValidRoutineName(std::string_view name) { return dorvik::IsValidRoutineName(name); }

std::optional<std::string> RoutineNameOfFile(std::string_view fileName) {
  static constexpr std::array<std::string_view, 5> kExtensions{".int", ".mac", ".inc", ".m", ".rtn"};
  for (const auto ext : kExtensions) {
    if (EndsWithNoCase(fileName, ext)) {
      return PercentFromUnderscore(std::string(fileName.substr(0, fileName.size() - ext.size())));
    }
  }
  return std::nullopt;
}

std::optional<std::string> RoutineNameOfPath(std::string_view relativePath) {
  std::string dotted(relativePath);
  for (char& c : dotted) {
    if (c == '/') c = '.';
  }
  return RoutineNameOfFile(dotted);
}

}  // namespace dorpack
