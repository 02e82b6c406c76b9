// Asking the Windows shell to "Open" a file (the install log, the readme):
// the program registered for the file's type starts on it, in the given
// working folder, with its window in the normal state. Windows only.
#pragma once

#include <filesystem>

namespace dorvik {

// True when the shell took the request; the program it starts runs on its own.
bool OpenInShell(const std::filesystem::path& file, const std::filesystem::path& workingFolder);

}  // namespace dorvik
