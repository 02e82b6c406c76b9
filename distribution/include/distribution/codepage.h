// Conversion between the installer's single-byte code pages and UTF-8, for
// the edges of the program (windows, terminal, JSON, source literals).
// Uses the C library's iconv, on Windows the system's code page tables; the
// core itself never holds UTF-8.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace dorvik {

class TextConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws TextConversionError when a character has no counterpart.
std::string ConvertText(std::string_view text, const char* fromCode, const char* toCode);

std::string Utf8ToCp1251(std::string_view utf8);
std::string Utf8ToCp866(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view text);
std::string Cp866ToUtf8(std::string_view text);

// A Russian text written in UTF-8 in the source, as the code page 1251 bytes
// the installer works with.
inline std::string Ru(std::string_view utf8) { return Utf8ToCp1251(utf8); }

}  // namespace dorvik
