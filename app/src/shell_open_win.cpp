#include "app/shell_open.h"

#include <windows.h>
#include <shellapi.h>

namespace dorvik {

bool OpenInShell(const std::filesystem::path& file, const std::filesystem::path& workingFolder) {
  // Paths are wide on Windows, so no code page stands between them and the shell.
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, workingFolder.c_str(), SW_SHOWNORMAL));
  return result > 32;  // the shell's convention: 32 and below are failures
}

}  // namespace dorvik
