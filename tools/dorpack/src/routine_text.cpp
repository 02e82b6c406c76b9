#include "routine_text.h"

#include <fstream>
#include <sstream>

#include "distribution/codepage.h"

namespace dorpack {

namespace {

// The texts of this file.
namespace text {

std::string CarriageReturn(int line, std::size_t column) {
  return "возврат каретки (байт 13) внутри строки " + std::to_string(line) + ", в столбце " + std::to_string(column) +
         " (строки кончаются только LF или CR LF)";
}
std::string Missing(const std::string& character, std::size_t byte) {
  return "символ «" + character + "», которого нет в кодовой странице 866, — байт " + std::to_string(byte) + " текста";
}
std::string NotUtf8(std::size_t byte) { return "байт " + std::to_string(byte) + " текста не образует символ UTF-8"; }
constexpr const char* kReadAsUtf8 =
    " (файл читается как UTF-8; для файлов в кодовой странице 866 задайте "
    "\"encoding\": \"cp866\")";
std::string CannotOpen(const std::string& file) { return "не открывается файл " + file; }
std::string CannotRead(const std::string& file) { return "не читается файл " + file; }

}  // namespace text

// The length of the UTF-8 character that starts at `at`, or 0 when the bytes
// there are not one.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t n = lead < 0x80             ? 1
                        : (lead & 0xE0) == 0xC0 ? 2
                        : (lead & 0xF0) == 0xE0 ? 3
                        : (lead & 0xF8) == 0xF0 ? 4
                                                : 0;
  if (n == 0 || at + n > text.size()) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

}  // namespace

std::string Cp866Fault(std::string_view utf8) {
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t n = Utf8Length(utf8, at);
    const std::string_view character = utf8.substr(at, n == 0 ? 1 : n);
    try {
      dorvik::Utf8ToCp866(character);
    } catch (const dorvik::TextConversionError&) {
      return n == 0 ? text::NotUtf8(at + 1) : text::Missing(std::string(character), at + 1);
    }
    at += character.size();
  }
  return text::NotUtf8(utf8.size());
}

std::vector<std::string_view> SplitLines(std::string_view text, const std::string& file, int firstLine) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    std::size_t stop = end == std::string_view::npos ? text.size() : end;
    if (end != std::string_view::npos && stop > start && text[stop - 1] == '\r') --stop;
    std::string_view line = text.substr(start, stop - start);
    if (const auto cr = line.find('\r'); cr != std::string_view::npos) {
      const int number = firstLine + static_cast<int>(lines.size());
      throw PackError(Where(Origin{file, number}) + text::CarriageReturn(number, cr + 1));
    }
    lines.push_back(line);
    start = end == std::string_view::npos ? text.size() : end + 1;
  }
  return lines;
}

std::string LineToCp866(std::string_view line, RoutineEncoding encoding, const Origin& origin) {
  if (encoding == RoutineEncoding::kCp866) return std::string(line);
  try {
    return dorvik::Utf8ToCp866(line);
  } catch (const dorvik::TextConversionError&) {
    throw PackError(Where(origin) + Cp866Fault(line) + text::kReadAsUtf8);
  }
}

std::string ReadWholeFile(const std::string& file, const Origin& entry) {
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) throw PackError(Where(entry) + text::CannotOpen(file));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw PackError(Where(entry) + text::CannotRead(file));
  return std::move(content).str();
}

}  // namespace dorpack
