// Code page conversion on Windows, through the system's own tables
// (MultiByteToWideChar and WideCharToMultiByte via UTF-16) instead of iconv.
// The same names are accepted as on other systems: UTF-8, CP1251, CP866
// (with their usual aliases) and ASCII.
#include "distribution/codepage.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

namespace dorvik {

namespace {

UINT CodePageOf(const char* name) {
  std::string n(name);
  std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (n == "UTF-8" || n == "UTF8") return CP_UTF8;
  if (n == "CP1251" || n == "WINDOWS-1251") return 1251;
  if (n == "CP866" || n == "IBM866") return 866;
  if (n == "ASCII" || n == "ANSI_X3.4-1968" || n == "US-ASCII") return 20127;
  throw TextConversionError(std::string("no converter for ") + name);
}

// Strict conversions: false when a byte or a character has no counterpart.
bool ToWide(std::string_view text, UINT codePage, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), n) == n;
}

bool FromWide(const std::wstring& wide, UINT codePage, std::string& out) {
  out.clear();
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  // The default character and best-fit mapping must not hide a character
  // the code page lacks; for UTF-8 only an unpaired surrogate can fail.
  const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* used = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, used);
  if (n <= 0 || usedDefault) return false;
  out.resize(static_cast<std::size_t>(n));
  return WideCharToMultiByte(codePage, flags, wide.data(), size, out.data(), n, nullptr, used) == n && !usedDefault;
}

bool Convert(std::string_view text, UINT from, UINT to, std::string& out) {
  std::wstring wide;
  return ToWide(text, from, wide) && FromWide(wide, to, out);
}

// The length of the character that starts at `at`: one byte in a
// single-byte code page, the sequence its lead byte announces in UTF-8.
std::size_t CharLength(std::string_view text, std::size_t at, UINT codePage) {
  if (codePage != CP_UTF8) return 1;
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return std::min(n, text.size() - at);
}

}  // namespace

std::string ConvertText(std::string_view text, const char* fromCode, const char* toCode) {
  const UINT from = CodePageOf(fromCode);
  const UINT to = CodePageOf(toCode);
  std::string out;
  if (Convert(text, from, to, out)) return out;
  // Find the first character that fails, for the message.
  std::size_t at = 0;
  for (std::string piece; at < text.size();) {
    const std::size_t n = CharLength(text, at, from);
    if (!Convert(text.substr(at, n), from, to, piece)) break;
    at += n;
  }
  bool incomplete = false;
  if (at < text.size() && from == CP_UTF8) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t wanted = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    incomplete = at + wanted > text.size();
  }
  throw TextConversionError(std::string(incomplete ? "an incomplete character that " : "a character that ") + toCode +
                            " cannot hold, at byte " + std::to_string(at + 1) + " of the text");
}

std::string Utf8ToCp1251(std::string_view utf8) { return ConvertText(utf8, "UTF-8", "CP1251"); }
std::string Utf8ToCp866(std::string_view utf8) { return ConvertText(utf8, "UTF-8", "CP866"); }
std::string Cp1251ToUtf8(std::string_view text) { return ConvertText(text, "CP1251", "UTF-8"); }
std::string Cp866ToUtf8(std::string_view text) { return ConvertText(text, "CP866", "UTF-8"); }

}  // namespace dorvik
