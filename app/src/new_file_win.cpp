#include <windows.h>

#include <algorithm>

#include "app/new_file.h"

namespace dorvik {

bool WriteNewFile(const std::filesystem::path& path, std::string_view bytes) {
  const HANDLE file = ::CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  while (ok && !bytes.empty()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    ok = ::WriteFile(file, bytes.data(), piece, &written, nullptr) != 0 && written > 0;
    if (ok) bytes.remove_prefix(written);
  }
  ok = ::CloseHandle(file) != 0 && ok;
  if (!ok) ::DeleteFileW(path.wstring().c_str());
  return ok;
}

}  // namespace dorvik
