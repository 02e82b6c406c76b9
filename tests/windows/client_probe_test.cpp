// The start-up test against the registry: the control registered (by the
// test run's Wine prefix) and unregistered through its own exports.
#include <windows.h>

#include <gtest/gtest.h>

#include "link/vism_link.h"
#include "wizard_model/client_probe.h"

namespace dorvik {
namespace {

using RegisterFunction = HRESULT(STDAPICALLTYPE*)();

TEST(ClientProbe, FollowsTheRegistrationOfTheControl) {
  auto probe = MakeSystemClientProbe();
  ASSERT_TRUE(probe->ClientPresent()) << "the test run registers vism-test-control.dll";

  HMODULE dll = LoadLibraryA("vism-test-control.dll");
  ASSERT_NE(dll, nullptr);
  auto unregister = reinterpret_cast<RegisterFunction>(GetProcAddress(dll, "DllUnregisterServer"));
  auto reregister = reinterpret_cast<RegisterFunction>(GetProcAddress(dll, "DllRegisterServer"));
  ASSERT_NE(unregister, nullptr);
  ASSERT_NE(reregister, nullptr);

  ASSERT_EQ(unregister(), S_OK);
  EXPECT_FALSE(probe->ClientPresent());
  EXPECT_THROW(VismLink(), std::runtime_error);

  // A key whose default value is empty is no client either.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "VISM.VisMCtrl.1", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  RegCloseKey(key);
  EXPECT_FALSE(probe->ClientPresent());

  ASSERT_EQ(reregister(), S_OK);
  EXPECT_TRUE(probe->ClientPresent());
  FreeLibrary(dll);
}

}  // namespace
}  // namespace dorvik
