#include "routine_text.h"

#include <fstream>
#include <sstream>

#include "distribution/codepage.h"

namespace dorpack {

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
      throw PackError(Where(Origin{file, number}) + "a carriage return (byte 13) inside line " +
                      std::to_string(number) + ", at column " + std::to_string(cr + 1) +
                      " (only LF and CR LF end lines)");
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
  } catch (const dorvik::TextConversionError& e) {
    throw PackError(Where(origin) + e.what() +
                    " (the file is read as UTF-8; set \"encoding\": \"cp866\" for code page 866 files)");
  }
}

std::string ReadWholeFile(const std::string& file, const Origin& entry) {
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) throw PackError(Where(entry) + "cannot open " + file);
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw PackError(Where(entry) + "cannot read " + file);
  return std::move(content).str();
}

}  // namespace dorpack
