// Text and time utilities shared by the whole installer.
//
// Every text here is a byte string: one byte per character, positions count
// from 1. The functions are pure and may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dorvik {

// The n-th piece of text cut by the byte ch, counting from 1; n <= 1 is the
// first piece. Missing pieces are empty.
std::string Piece(std::string_view text, char ch, int n);

// Number of bytes of text equal to ch.
int CountChar(std::string_view text, char ch);

// Replaces each byte found in `from` by the byte at the same position of `to`;
// a byte whose position lies beyond the end of `to` is removed.
std::string Translate(std::string_view text, std::string_view from, std::string_view to);

// Whether a and b are the same text when Latin letters are compared without
// regard to case (namespace names, as the server lists and the user types them).
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// Cyrillic letters between the DOS (866) and the Windows (1251) code pages.
// Only the 65 letter positions of the two tables change.
std::string Cp866ToCp1251(std::string_view text);
std::string Cp1251ToCp866(std::string_view text);

// Adds key to each byte, wrapping by 255 (not 256): decodes the data file's body.
std::string ShiftText(std::string_view text, int key);

// One byte of ShiftText. In byte arithmetic the sum wraps by 256, and a
// wrapped sum (smaller than b) needs one more; written this way a loop over
// it has no branch and vectorises.
constexpr std::uint8_t ShiftByte(std::uint8_t b, std::uint8_t key) {
  const auto t = static_cast<std::uint8_t>(b + key);
  return static_cast<std::uint8_t>(t + (t < b));
}

// The inverse of ShiftText for one byte: the stored form of a plain byte.
std::uint8_t EncodeByte(std::uint8_t plain, std::uint8_t key);

// "CN_IPTCP:" ip "[" port "]:" ip "[" port "]".
std::string BuildServerString(std::string_view ip, std::string_view port);

// Takes ip and port back out of a connection string; leaves them unchanged
// when the string has no second colon-delimited piece.
void ParseServerString(std::string_view server, std::string& ip, std::string& port);

// Duration in days between two times of day; counts across midnight, so
// equal times are a whole day.
double TimeDiff(double start, double finish);

// Milliseconds to days.
double MsToDays(std::uint32_t ms);

}  // namespace dorvik
