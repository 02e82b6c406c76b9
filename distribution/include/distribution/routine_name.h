// Names of server routines as they travel in a distribution.
#pragma once

#include <string_view>

namespace dorvik {

// A routine name the server accepts: an optional leading "%", a letter, then
// letters and digits, with single dots between parts (a class's generated
// routines are named like "My.Class.1"); at most 255 bytes.
bool IsValidRoutineName(std::string_view name);

}  // namespace dorvik
