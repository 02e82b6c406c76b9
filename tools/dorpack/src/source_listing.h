// `dorpack list MANIFEST.json`: the routines a build of the manifest would
// pack, each with the file (and line, and place in a file of several
// routines) it comes from.
#pragma once

#include <ostream>

#include <nlohmann/json.hpp>

#include "dorpack/package.h"

namespace dorpack {

nlohmann::ordered_json SourcesJson(const Package& package, const Warnings& warnings);
void PrintSources(const Package& package, std::ostream& out);

}  // namespace dorpack
