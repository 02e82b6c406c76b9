// Finding and reading the routine files a manifest names.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dorpack/package.h"
#include "routine_text.h"

namespace dorpack {

// A file an entry names, with the routine name its path gives (none for a
// file whose extension names no single routine: its content names them).
struct RoutineSource {
  std::filesystem::path file;
  std::optional<std::string> name;
};

// The files an entry names: one file, or for a pattern with *, ? or [...] in
// its file name part every regular file of that folder whose name matches, in
// byte order of the names. Throws PackError (at `origin`) when a file is
// missing, a pattern matches nothing or a folder part holds a wildcard.
std::vector<RoutineSource> ExpandRoutineEntry(const std::filesystem::path& baseFolder, const std::string& entry,
                                              const Origin& origin);

// The files of a package-folder entry {"root": "src", "files": "**/*.int"}:
// every regular file below the root whose path below it matches `files`
// ("**" stands for any number of folders, the other parts match one folder or
// file name each, with *, ? and [...]), in byte order of those paths, each
// named by its folders and file name joined by dots (src/My/Pkg/X.int gives
// My.Pkg.X). Throws PackError (at `origin`) when the root is no folder or
// nothing matches.
std::vector<RoutineSource> ExpandPackageEntry(const std::filesystem::path& baseFolder, const std::string& root,
                                              const std::string& files, const Origin& origin);

// Reads the routines of a file by its format: one routine of a .int, .mac,
// .inc, .m or .rtn file (a UDL header on the first line of .int, .mac and
// .inc files), or the routines of a routine output file (.ro, .rsa, or a .rtn
// that begins like one) or an XML export (.xml). Lines end in LF or CR LF.
std::vector<RoutineSpec> ReadRoutineSource(const RoutineSource& source, RoutineEncoding encoding, const Origin& origin,
                                           Warnings* warnings);

}  // namespace dorpack
