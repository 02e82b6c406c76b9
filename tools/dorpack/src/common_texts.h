// Phrases that several of dorpack's messages share, spelled once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dorpack::common_text {

// The Russian word for a count of `n`: Plural(n, "строка", "строки", "строк")
// gives "строка" for 1, 21 ..., "строки" for 2-4, 22-24 ..., else "строк".
inline const char* Plural(std::uintmax_t n, const char* one, const char* few, const char* many) {
  if (n % 10 == 1 && n % 100 != 11) return one;
  if (n % 10 >= 2 && n % 10 <= 4 && (n % 100 < 12 || n % 100 > 14)) return few;
  return many;
}

// What a routine name is, after a refusal of one.
inline constexpr const char* kRoutineNameRule =
    "сначала буква или «%», затем буквы и цифры, части разделены одной точкой";

// The kinds of routine dorpack packs, after a refusal of another.
inline constexpr const char* kPackedTypes = "dorpack упаковывает программы типа INT, MAC и INC";

// UTF-8 text padded with blanks to `width` characters (std::setw counts
// bytes, and a Cyrillic letter is two).
inline std::string PadRight(std::string_view utf8, std::size_t width) {
  std::size_t characters = 0;
  for (const char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  }
  std::string out(utf8);
  if (characters < width) out.append(width - characters, ' ');
  return out;
}

}  // namespace dorpack::common_text
