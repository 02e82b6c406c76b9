// Names of server routines and the routine files they come from.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dorpack {

// A routine name the server accepts: an optional leading "%", a letter, then
// letters and digits, with single dots between parts; at most 255 bytes.
bool IsValidRoutineName(std::string_view name);

// The routine name of a file: its name without the extension .int, .m or
// .rtn (in any letter case); no value when the file has none of them.
std::optional<std::string> RoutineNameOfFile(std::string_view fileName);

}  // namespace dorpack
