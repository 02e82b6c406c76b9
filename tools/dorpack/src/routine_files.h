// Finding and reading the routine files a manifest names.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "dorpack/package.h"

namespace dorpack {

// The files an entry names: one file, or for a pattern with *, ? or [...] in
// its file name part every regular file of that folder whose name matches, in
// byte order of the names. Throws PackError (at `origin`) when a file is
// missing, a pattern matches nothing or a folder part holds a wildcard.
std::vector<std::filesystem::path> ExpandRoutineEntry(const std::filesystem::path& baseFolder, const std::string& entry,
                                                      const Origin& origin);

enum class RoutineEncoding { kUtf8, kCp866 };

// Reads a routine file: its name from the file name, its lines split at line
// feeds (a final line feed ends the last line), in code page 866.
RoutineSpec ReadRoutineFile(const std::filesystem::path& file, RoutineEncoding encoding, const Origin& origin);

}  // namespace dorpack
