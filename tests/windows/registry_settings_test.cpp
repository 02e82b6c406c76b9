// The connection settings in the registry of a Wine prefix: defaults for a
// missing key or value, values written and read back, and what another
// program sees under HKEY_CURRENT_USER.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "app/startup.h"
#include "app/trust_settings.h"

namespace dorvik {
namespace {

constexpr const char* kKey = "Software\\Velmora\\Dorvik\\Settings";

std::string RawValue(const char* name) {
  char value[256] = {};
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return "<missing>";
  }
  return value;
}

class RegistrySettings : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmora"); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmora"); }
};

TEST_F(RegistrySettings, AMissingKeyGivesTheDefaultsAndIsCreated) {
  auto store = OpenUserSettings();
  ASSERT_TRUE(store->IsOpen());
  ConnectionSettings settings;
  LoadConnectionSettings(*store, settings);
  EXPECT_EQ(settings.IP, "127.0.0.1");
  EXPECT_EQ(settings.Port, "1972");
  EXPECT_EQ(settings.PreferredNamespace, "USER");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  if (key != nullptr) RegCloseKey(key);
}

TEST_F(RegistrySettings, SavedValuesAreStringsReadBackByTheNextRun) {
  {
    auto store = OpenUserSettings();
    ConnectionSettings settings;
    settings.IP = "10.0.0.5";
    settings.Port = "56773";
    settings.Namespace = "SKLAD";
    SaveConnectionSettings(*store, settings);
  }
  EXPECT_EQ(RawValue("IP"), "10.0.0.5");
  EXPECT_EQ(RawValue("Port"), "56773");
  EXPECT_EQ(RawValue("NS"), "SKLAD");
  auto store = OpenUserSettings();
  ConnectionSettings settings;
  LoadConnectionSettings(*store, settings);
  EXPECT_EQ(settings.IP, "10.0.0.5");
  EXPECT_EQ(settings.Port, "56773");
  EXPECT_EQ(settings.PreferredNamespace, "SKLAD");
}

TEST_F(RegistrySettings, OneMissingValueTakesItsDefaultAndAWrongTypeIsMissing) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegSetValueExA(key, "IP", 0, REG_SZ, reinterpret_cast<const BYTE*>("192.168.1.9"), 12);
  const DWORD number = 1972;
  RegSetValueExA(key, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  RegCloseKey(key);
  auto store = OpenUserSettings();
  ConnectionSettings settings;
  LoadConnectionSettings(*store, settings);
  EXPECT_EQ(settings.IP, "192.168.1.9");
  EXPECT_EQ(settings.Port, "1972");
  EXPECT_EQ(settings.PreferredNamespace, "USER");
}

// The trusted keys an admin keeps in the key: one string, or a multi-string
// with a key per line; the demand for a signature as a string or a DWORD.
TEST_F(RegistrySettings, TrustedKeysAndTheDemandForASignature) {
  const auto first = signing::GenerateKeyPair().publicKey, second = signing::GenerateKeyPair().publicKey;
  const auto line = [](const signing::PublicKey& k) {
    const std::string text = signing::FormatPublicKey(k);
    return text.substr(text.find('\n') + 1, text.size() - text.find('\n') - 2);
  };
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
  const std::string multi = line(first) + '\0' + line(second) + '\0' + '\0';
  RegSetValueExA(key, "TrustedKeys", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi.data()),
                 static_cast<DWORD>(multi.size()));
  const DWORD one = 1;
  RegSetValueExA(key, "RequireSignature", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
  RegCloseKey(key);

  auto store = OpenUserSettings();
  TrustSettingsResult result = LoadTrustSettings(*store);
  EXPECT_TRUE(result.failure.empty()) << result.failure;
  ASSERT_EQ(result.trust.trustedKeys.size(), 2u);
  EXPECT_EQ(result.trust.trustedKeys[1].key, second.key);
  EXPECT_TRUE(result.trust.requireSignature);

  // A string value with a key that is no key: every distribution is refused.
  store->Write("TrustedKeys", line(first) + ";RWQbroken");
  result = LoadTrustSettings(*OpenUserSettings());
  EXPECT_FALSE(result.failure.empty());
}

}  // namespace
}  // namespace dorvik
