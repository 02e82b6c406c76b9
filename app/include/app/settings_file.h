// The connection settings kept per user: the registry key
// "\Software\Velmora\Dorvik\Settings" under HKEY_CURRENT_USER on Windows,
// elsewhere the file $XDG_CONFIG_HOME/velmora/dorvik.conf (or
// ~/.config/velmora/dorvik.conf), one "name=value" line per value.
#pragma once

#include <filesystem>
#include <map>
#include <memory>

#include "core/services.h"

namespace dorvik {

class FileSettingsStore : public SettingsStore {
 public:
  explicit FileSettingsStore(std::filesystem::path file);
  bool IsOpen() const override { return open_; }
  std::optional<std::string> Read(const std::string& name) override;
  void Write(const std::string& name, const std::string& value) override;
  const std::filesystem::path& File() const { return file_; }

 private:
  std::filesystem::path file_;
  std::map<std::string, std::string> values_;
  bool open_ = false;
};

// The platform's usual place for the settings.
std::unique_ptr<SettingsStore> OpenUserSettings();
std::filesystem::path UserSettingsFile();

}  // namespace dorvik
