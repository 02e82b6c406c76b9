// The shell Open under Wine: a file type registered in HKEY_CLASSES_ROOT
// whose open command writes the working folder it was started in, so the
// test sees that the shell ran it, on which file and where.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/shell_open.h"

namespace dorvik {
namespace {

namespace fs = std::filesystem;

void SetDefault(const std::wstring& key, const std::wstring& value) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(h);
}

std::string WaitForFile(const fs::path& file) {
  for (int i = 0; i < 300; ++i) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    if (text.find('\n') != std::string::npos) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "<nothing written>";
}

TEST(ShellOpen, StartsTheRegisteredProgramOnTheFileInTheWorkingFolder) {
  const fs::path root = fs::temp_directory_path() / "velmora-shell-open";
  fs::remove_all(root);
  fs::create_directories(root / "program");
  fs::create_directories(root / "fallback");
  std::ofstream(root / "program" / "dorvik.vtest") << "log";

  SetDefault(L".vtest", L"VelmoraTest.Log");
  SetDefault(L"VelmoraTest.Log\\shell\\open\\command", L"C:\\windows\\system32\\cmd.exe /c cd > \"%1.opened\"");

  ASSERT_TRUE(OpenInShell(root / "program" / "dorvik.vtest", root / "fallback"));
  std::string folder = WaitForFile(root / "program" / "dorvik.vtest.opened");
  while (!folder.empty() && (folder.back() == '\n' || folder.back() == '\r')) folder.pop_back();
  EXPECT_EQ(fs::path(folder), fs::path(root / "fallback").make_preferred());

  // A file that does not exist is refused by the shell.
  EXPECT_FALSE(OpenInShell(root / "program" / "missing.vtest", root / "program"));
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L".vtest");
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L"VelmoraTest.Log");
  fs::remove_all(root);
}

}  // namespace
}  // namespace dorvik
