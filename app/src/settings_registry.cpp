// The connection settings in the registry key
// HKEY_CURRENT_USER\Software\Velmora\Dorvik\Settings, as string values.
#include <windows.h>

#include "app/settings_file.h"

namespace dorvik {

namespace {

class RegistrySettingsStore : public SettingsStore {
 public:
  RegistrySettingsStore() {
    open_ = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Velmora\\Dorvik\\Settings", 0, nullptr, 0,
                            KEY_READ | KEY_WRITE, nullptr, &key_, nullptr) == ERROR_SUCCESS;
  }
  ~RegistrySettingsStore() override {
    if (open_) RegCloseKey(key_);
  }
  bool IsOpen() const override { return open_; }
  std::optional<std::string> Read(const std::string& name) override {
    if (!open_) return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
      return std::nullopt;
    }
    std::string value(size, '\0');
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    value.resize(size);
    while (!value.empty() && value.back() == '\0') value.pop_back();
    return value;
  }
  void Write(const std::string& name, const std::string& value) override {
    if (!open_) return;
    RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }

 private:
  HKEY key_{};
  bool open_ = false;
};

}  // namespace

std::unique_ptr<SettingsStore> OpenUserSettings() { return std::make_unique<RegistrySettingsStore>(); }

}  // namespace dorvik
