#include "app/settings_file.h"

#include <cstdlib>
#include <fstream>

namespace dorvik {

std::filesystem::path UserSettingsFile() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = std::filesystem::path(home) / ".config";
  } else {
    return {};
  }
  return base / "velmora" / "dorvik.conf";
}

FileSettingsStore::FileSettingsStore(std::filesystem::path file) : file_(std::move(file)) {
  if (file_.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(file_.parent_path(), ec);
  if (!std::filesystem::is_directory(file_.parent_path(), ec)) return;
  open_ = true;
  std::ifstream in(file_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto eq = line.find('=');
    if (eq == std::string::npos || line.empty() || line[0] == '#') continue;
    values_[line.substr(0, eq)] = line.substr(eq + 1);
  }
}

std::optional<std::string> FileSettingsStore::Read(const std::string& name) {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void FileSettingsStore::Write(const std::string& name, const std::string& value) {
  if (!open_) return;
  // Values are single lines; a line break would split one value into two.
  std::string clean;
  for (char c : value) {
    if (c != '\r' && c != '\n') clean.push_back(c);
  }
  values_[name] = clean;
  // Written to a new file and renamed, so a crash never leaves half a file.
  const auto tmp = file_.string() + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    for (const auto& [k, v] : values_) out << k << '=' << v << '\n';
    if (!out) return;
  }
  std::error_code ec;
  std::filesystem::rename(tmp, file_, ec);
}

#ifndef _WIN32
std::unique_ptr<SettingsStore> OpenUserSettings() { return std::make_unique<FileSettingsStore>(UserSettingsFile()); }
#endif

}  // namespace dorvik
