#include "signing/sums_list.h"

#include <array>
#include <fstream>
#include <set>

#include "distribution/codepage.h"

namespace dorvik::signing {

namespace {

constexpr std::size_t kReadBlock = 1 << 16;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void Refuse(std::size_t lineNumber, std::string_view utf8) {
  throw SumsFormatError(Ru("строка ") + std::to_string(lineNumber) + ": " + Ru(utf8));
}

bool SafeName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find_first_of("\\:") != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    const auto end = std::min(name.find('/', start), name.size());
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::vector<SumsEntry> ParseSumsList(std::string_view text) {
  std::vector<SumsEntry> entries;
  std::set<std::string, std::less<>> seen;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) Refuse(lineNumber, "пустая строка");
    if (line.front() == '\\') Refuse(lineNumber, "имя файла с особыми знаками не принимается");
    if (line.size() < 67 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*')) {
      Refuse(lineNumber, "не в виде «сумма SHA-256, два пробела, имя файла»");
    }
    SumsEntry entry;
    for (std::size_t i = 0; i < 32; ++i) {
      const int high = HexValue(line[2 * i]), low = HexValue(line[2 * i + 1]);
      if (high < 0 || low < 0) Refuse(lineNumber, "сумма SHA-256 не из 64 шестнадцатеричных цифр");
      entry.digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    entry.name = std::string(line.substr(66));
    if (!SafeName(entry.name)) Refuse(lineNumber, "имя файла выходит за папку дистрибутива или недопустимо");
    if (!seen.insert(entry.name).second) Refuse(lineNumber, "файл назван второй раз");
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string FormatSumsList(const std::vector<SumsEntry>& entries) {
  std::string out;
  for (const auto& e : entries) out += Sha256::ToHex(e.digest) + "  " + e.name + "\n";
  return out;
}

Sha256::Digest HashFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error(Ru("не удаётся открыть файл ") + file.filename().string());
  Sha256 hash;
  std::array<char, kReadBlock> block{};
  while (in) {
    in.read(block.data(), block.size());
    hash.Update(std::string_view(block.data(), static_cast<std::size_t>(in.gcount())));
  }
  if (in.bad()) throw std::runtime_error(Ru("не удаётся прочитать файл ") + file.filename().string());
  return hash.Final();
}

}  // namespace dorvik::signing
