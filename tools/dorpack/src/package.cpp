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

}  // namespace dorpack
