// Writing a file that must not replace another: the install log, whose
// name was found free but may have been taken since.
#pragma once

#include <filesystem>
#include <string_view>

namespace dorvik {

// Creates `path` only when no file of that name exists (the platform's own
// exclusive creation: O_EXCL, or CreateFileW with CREATE_NEW on Windows,
// whose C runtime ignores fopen's "x") and writes `bytes` into it. False
// when the name is taken, the file cannot be created or a write fails; a
// file it created but could not fill is removed, and an existing file is
// never touched.
bool WriteNewFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace dorvik
