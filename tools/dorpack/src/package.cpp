#include "dorpack/package.h"

namespace dorpack {

namespace {

// The texts of this file.
std::string RoutineText(const std::string& name) { return "программа " + name; }
std::string PlaceOf(std::size_t number, std::size_t count) {
  return "программа " + std::to_string(number) + " из " + std::to_string(count);
}

}  // namespace

std::string Describe(const Origin& origin) {
  if (origin.file.empty() || origin.line <= 0) return origin.file;
  return origin.file + ":" + std::to_string(origin.line);
}

std::string Where(const Origin& origin) {
  const std::string at = Describe(origin);
  return at.empty() ? at : at + ": ";
}

Origin LineOrigin(const RoutineSpec& routine, std::size_t i) {
  if (routine.file.empty()) return Origin{RoutineText(routine.name), static_cast<int>(i + 1)};
  // A routine whose lines are not lines of its file (base64 in an XML
  // export) is placed at the line that names it.
  if (routine.firstLine <= 0) return Origin{routine.file, routine.nameLine};
  return Origin{routine.file, routine.firstLine + static_cast<int>(i)};
}

std::string PlaceText(const RoutineSpec& routine) {
  return routine.placeCount == 0 ? std::string() : PlaceOf(routine.placeNumber, routine.placeCount);
}

std::string FileAndPlace(const RoutineSpec& routine) {
  const std::string place = PlaceText(routine);
  return place.empty() ? routine.file : routine.file + ", " + place;
}

}  // namespace dorpack
