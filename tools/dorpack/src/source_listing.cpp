#include "source_listing.h"

#include <iomanip>

#include "common_texts.h"

#include "distribution/codepage.h"

namespace dorpack {

namespace {

using json = nlohmann::ordered_json;

// The texts of this file (the table for people; the JSON form keeps its
// English values, which programs read).
namespace text {

constexpr const char* kCheckRoutines = "Программы проверки";
constexpr const char* kRoutines = "Программы";

}  // namespace text

// "routine 2 of 3": a routine's place as `list --json` gives it.
json PlaceJson(const RoutineSpec& routine) {
  if (routine.placeCount == 0) return json(nullptr);
  return json("routine " + std::to_string(routine.placeNumber) + " of " + std::to_string(routine.placeCount));
}

// "src/all.ro:7 (программа 2 из 3)": the line that names the routine, or the
// file alone when its name is the file's name.
std::string SourceOf(const RoutineSpec& routine) {
  const std::string at = Describe(Origin{routine.file, routine.nameLine});
  const std::string place = PlaceText(routine);
  return place.empty() ? at : at + " (" + place + ")";
}

json RoutinesJson(const std::vector<RoutineSpec>& routines) {
  json list = json::array();
  for (const auto& routine : routines) {
    json item{{"name", dorvik::Cp866ToUtf8(routine.name)},
              {"lines", routine.lines.size()},
              {"file", routine.file},
              {"line", routine.nameLine}};
    item["place"] = PlaceJson(routine);
    list.push_back(std::move(item));
  }
  return list;
}

void PrintSection(const char* title, const std::vector<RoutineSpec>& routines, std::ostream& out) {
  out << title << ": " << routines.size() << "\n";
  std::size_t width = 4;
  for (const auto& routine : routines) width = std::max(width, routine.name.size());
  for (const auto& routine : routines) {
    out << "  " << std::left << std::setw(static_cast<int>(width)) << dorvik::Cp866ToUtf8(routine.name) << std::right
        << std::setw(8) << routine.lines.size() << " "
        << common_text::PadRight(common_text::Plural(routine.lines.size(), "строка", "строки", "строк"), 8)
        << SourceOf(routine) << "\n";
  }
}

}  // namespace

json SourcesJson(const Package& package, const Warnings& warnings) {
  json out = json::object();
  out["check_routines"] = RoutinesJson(package.checkRoutines);
  out["routines"] = RoutinesJson(package.routines);
  out["warnings"] = warnings;
  return out;
}

void PrintSources(const Package& package, std::ostream& out) {
  PrintSection(text::kCheckRoutines, package.checkRoutines, out);
  PrintSection(text::kRoutines, package.routines, out);
}

}  // namespace dorpack
