// dorvik.exe: the installation wizard for Windows. Run it in the folder that
// holds the distribution (dorpack.dat, licence.txt, readme.txt, IMAGES).
#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <string>
#include <vector>

#include "program.h"
#include "win_base.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The arguments in the installer's code page, as the command line of the
  // core expects them.
  std::vector<std::string> args;
  int count = 0;
  if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) {
      try {
        args.push_back(dorvik::win::Narrow(argv[i]));
      } catch (const std::exception&) {
        args.emplace_back();  // an argument the code page cannot hold matches nothing
      }
    }
    LocalFree(argv);
  }
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::current_path(ec);
  dorvik::win::ProgramOptions options;
  const wchar_t* still = _wgetenv(L"VELMORA_WIZARD_STILL");
  options.still = still != nullptr && std::wstring(still) == L"1";
  return dorvik::win::RunWizard(args, folder, options);
}
