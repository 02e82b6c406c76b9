// Names of server routines and the routine files they come from.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dorpack {

// A routine name the server accepts: an optional leading "%", a letter, then
// letters and digits, with single dots between parts; at most 255 bytes.
bool IsValidRoutineName(std::string_view name);

// The routine name of a file that holds one routine: its name without the
// extension .int, .mac, .inc, .m or .rtn (in any letter case), a leading "_"
// read as "%" (GT.M names the file of %VMLIB "_VMLIB.m"); no value when the
// file has none of these extensions.
std::optional<std::string> RoutineNameOfFile(std::string_view fileName);

// The routine name of a file in package folders, from its path below the
// root ("My/Pkg/X.int" with "/" between parts): the folders and the file's
// name joined by dots ("My.Pkg.X"), a leading "_" read as "%".
std::optional<std::string> RoutineNameOfPath(std::string_view relativePath);

}  // namespace dorpack
