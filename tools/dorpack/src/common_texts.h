// Phrases that several of dorpack's messages share, spelled once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

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

// Why the system refused a file operation, in Russian for the faults a maker
// meets; the system's own words for any other.
inline std::string SystemFault(const std::error_code& ec) {
  const std::error_condition condition = ec.default_error_condition();
  if (condition == std::errc::no_such_file_or_directory) return "нет такого файла или папки";
  if (condition == std::errc::permission_denied || condition == std::errc::operation_not_permitted) {
    return "нет прав доступа";
  }
  if (condition == std::errc::no_space_on_device) return "на диске нет места";
  if (condition == std::errc::read_only_file_system) return "файловая система только для чтения";
  if (condition == std::errc::not_a_directory) return "часть пути — не папка";
  if (condition == std::errc::is_a_directory) return "это папка";
  if (condition == std::errc::file_exists) return "файл уже есть";
  if (condition == std::errc::directory_not_empty) return "папка не пуста";
  if (condition == std::errc::io_error) return "ошибка ввода-вывода";
  if (condition == std::errc::filename_too_long) return "слишком длинное имя";
  return ec.message();
}

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
