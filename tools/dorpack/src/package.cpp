#include "dorpack/package.h"

namespace dorpack {

std::string Describe(const Origin& origin) {
  if (origin.file.empty() || origin.line <= 0) return origin.file;
  return origin.file + ":" + std::to_string(origin.line);
}

std::string Where(const Origin& origin) {
  const std::string at = Describe(origin);
  return at.empty() ? at : at + ": ";
}

Origin LineOrigin(const RoutineSpec& routine, std::size_t i) {
  if (routine.file.empty()) return Origin{"routine " + routine.name, static_cast<int>(i + 1)};
  // A routine whose lines are not lines of its file (base64 in an XML
  // export) is placed at the line that names it.
  if (routine.firstLine <= 0) return Origin{routine.file, routine.nameLine};
  return Origin{routine.file, routine.firstLine + static_cast<int>(i)};
}

}  // namespace dorpack
