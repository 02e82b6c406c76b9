#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <iostream>

#include "console.h"

namespace dorvik::cli {

namespace {

std::string Utf8(const wchar_t* text, std::size_t size) {
  if (size == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

HANDLE StreamHandle(int stream) {
  return GetStdHandle(stream == 0 ? STD_INPUT_HANDLE : stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

// A console handle, with escape sequences switched on for an output console
// (the progress line redraws itself with them); null when not a console.
HANDLE Console(int stream) {
  HANDLE h = StreamHandle(stream);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || h == nullptr || !GetConsoleMode(h, &mode)) return nullptr;
  if (stream != 0 && !(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
    SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
  return h;
}

}  // namespace

std::string LocaleCodeset() { return "UTF-8"; }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return {argv + 1, argv + argc};
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i], wcslen(wide[i])));
  LocalFree(wide);
  return args;
}

bool IsTerminal(int stream) { return Console(stream) != nullptr; }

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(StreamHandle(2), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return columns;
  }
  return 80;
}

void PutText(std::FILE* stream, const std::string& localText) {
  const int which = stream == stdout ? 1 : 2;
  if (HANDLE console = Console(which)) {
    std::fflush(stream);
    const std::wstring text = Wide(localText);
    DWORD written = 0;
    WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  std::fwrite(localText.data(), 1, localText.size(), stream);
}

bool ReadLine(std::string& line) {
  if (HANDLE console = Console(0)) {
    std::wstring typed;
    wchar_t buffer[256];
    for (;;) {
      DWORD got = 0;
      if (!ReadConsoleW(console, buffer, 256, &got, nullptr) || got == 0) return false;
      typed.append(buffer, got);
      if (typed.back() == L'\n') break;
    }
    while (!typed.empty() && (typed.back() == L'\n' || typed.back() == L'\r')) typed.pop_back();
    line = Utf8(typed.data(), typed.size());
    return true;
  }
  if (!std::getline(std::cin, line)) {
    std::cin.clear();
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

std::string PathText(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  return Utf8(wide.data(), wide.size());
}

}  // namespace dorvik::cli
