// The connection settings in the registry key
// HKEY_CURRENT_USER\Software\Velmora\Dorvik\Settings, as string values.
// A list an admin keeps there (the trusted keys) may also be a multi-string
// value; its strings are read as lines. A number (the demand for a
// signature) may be a DWORD value, read as its decimal text.
#include <windows.h>

#include <string>

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
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_MULTI_SZ && type != REG_DWORD)) {
      return std::nullopt;
    }
    if (type == REG_DWORD) {
      DWORD number = 0;
      size = sizeof number;
      if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) !=
              ERROR_SUCCESS ||
          type != REG_DWORD) {
        return std::nullopt;
      }
      return std::to_string(number);
    }
    std::string value(size, '\0');
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    value.resize(size);
    while (!value.empty() && value.back() == '\0') value.pop_back();
    if (type == REG_MULTI_SZ) {
      for (char& c : value) {
        if (c == '\0') c = '\n';
      }
    }
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
