#include "source_listing.h"

#include <iomanip>

#include "distribution/codepage.h"

namespace dorpack {

namespace {

using json = nlohmann::ordered_json;

// "src/all.ro:7 (routine 2 of 3)": the line that names the routine, or the
// file alone when its name is the file's name.
std::string SourceOf(const RoutineSpec& routine) {
  const std::string at = Describe(Origin{routine.file, routine.nameLine});
  return routine.place.empty() ? at : at + " (" + routine.place + ")";
}

json RoutinesJson(const std::vector<RoutineSpec>& routines) {
  json list = json::array();
  for (const auto& routine : routines) {
    json item{{"name", dorvik::Cp866ToUtf8(routine.name)},
              {"lines", routine.lines.size()},
              {"file", routine.file},
              {"line", routine.nameLine}};
    item["place"] = routine.place.empty() ? json(nullptr) : json(routine.place);
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
        << std::setw(8) << routine.lines.size() << " lines  " << SourceOf(routine) << "\n";
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
  PrintSection("Check routines", package.checkRoutines, out);
  PrintSection("Routines", package.routines, out);
}

}  // namespace dorpack
