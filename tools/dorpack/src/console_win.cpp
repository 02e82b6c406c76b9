#include <windows.h>

#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string>

#include "console.h"

namespace dorpack {

namespace {

// How many bytes at the start of `text` are whole UTF-8 characters: a
// character cut at the end waits for its other bytes.
std::size_t WholeCharacters(const std::string& text) {
  std::size_t at = text.size();
  std::size_t back = 0;
  while (at > 0 && back < 4) {
    --at;
    ++back;
    const auto b = static_cast<unsigned char>(text[at]);
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte
    const std::size_t length = b < 0x80             ? 1
                               : (b & 0xE0) == 0xC0 ? 2
                               : (b & 0xF0) == 0xE0 ? 3
                               : (b & 0xF8) == 0xF0 ? 4
                                                    : 1;
    return back >= length ? text.size() : at;
  }
  return text.size();
}

// A stream buffer that hands UTF-8 text to a console as UTF-16, line by
// line (and on every flush).
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    pending_.push_back(traits_type::to_char_type(c));
    if (c == '\n') Write();
    return c;
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    pending_.append(text, static_cast<std::size_t>(count));
    if (pending_.find('\n') != std::string::npos || pending_.size() > 4096) Write();
    return count;
  }

  int sync() override {
    Write();
    return 0;
  }

 private:
  void Write() {
    const std::size_t whole = WholeCharacters(pending_);
    if (whole == 0) return;
    const int bytes = static_cast<int>(whole);
    const int length = MultiByteToWideChar(CP_UTF8, 0, pending_.data(), bytes, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, pending_.data(), bytes, wide.data(), length);
    DWORD written = 0;
    WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    pending_.erase(0, whole);
  }

  HANDLE console_;
  std::string pending_;
};

// The console behind a standard handle; null when it goes to a pipe or a
// file.
HANDLE ConsoleOf(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

}  // namespace

void UseConsoleOutput() {
  // The buffers live as long as the process: the streams are flushed at exit,
  // after every static object of the program is gone.
  if (HANDLE out = ConsoleOf(STD_OUTPUT_HANDLE)) std::cout.rdbuf(new ConsoleBuffer(out));
  if (HANDLE err = ConsoleOf(STD_ERROR_HANDLE)) std::cerr.rdbuf(new ConsoleBuffer(err));
}

}  // namespace dorpack
