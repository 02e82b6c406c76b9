#include "distribution/funcs.h"

#include <array>

namespace dorvik {

namespace {

// The 65 letter positions of the two code pages, in corresponding order.
constexpr std::array<unsigned char, 65> MakeDosLetters() {
  std::array<unsigned char, 65> t{};
  std::size_t i = 0;
  for (int b = 0x80; b <= 0xAF; ++b) t[i++] = static_cast<unsigned char>(b);
  for (int b = 0xE0; b <= 0xEF; ++b) t[i++] = static_cast<unsigned char>(b);
  t[i++] = 0xFF;
  return t;
}

constexpr std::array<unsigned char, 65> MakeWindowsLetters() {
  std::array<unsigned char, 65> t{};
  std::size_t i = 0;
  for (int b = 0xC0; b <= 0xFF; ++b) t[i++] = static_cast<unsigned char>(b);
  t[i++] = 0x03;
  return t;
}

constexpr auto kDosLetters = MakeDosLetters();
constexpr auto kWindowsLetters = MakeWindowsLetters();

std::string_view AsText(const std::array<unsigned char, 65>& table) {
  return {reinterpret_cast<const char*>(table.data()), table.size()};
}

}  // namespace

std::string Piece(std::string_view text, char ch, int n) {
  if (text.empty()) return {};
  for (int i = 1; i < n; ++i) {
    const auto at = text.find(ch);
    if (at == std::string_view::npos) return {};
    text.remove_prefix(at + 1);
  }
  const auto at = text.find(ch);
  return std::string(at == std::string_view::npos ? text : text.substr(0, at));
}

int CountChar(std::string_view text, char ch) {
  int count = 0;
  for (const char c : text) count += (c == ch);
  return count;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

std::string Translate(std::string_view text, std::string_view from, std::string_view to) {
  // A position table built once per call: -1 when the byte is not in `from`,
  // otherwise the index of its first occurrence.
  std::array<int, 256> position;
  position.fill(-1);
  for (std::size_t i = from.size(); i-- > 0;) {
    position[static_cast<unsigned char>(from[i])] = static_cast<int>(i);
  }
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const int p = position[static_cast<unsigned char>(c)];
    if (p < 0) {
      out.push_back(c);
    } else if (static_cast<std::size_t>(p) < to.size()) {
      out.push_back(to[static_cast<std::size_t>(p)]);
    }
    // Otherwise the byte has no counterpart in `to` and is dropped.
  }
  return out;
}

std::string Cp866ToCp1251(std::string_view text) {
  return Translate(text, AsText(kDosLetters), AsText(kWindowsLetters));
}

std::string Cp1251ToCp866(std::string_view text) {
  return Translate(text, AsText(kWindowsLetters), AsText(kDosLetters));
}

std::string ShiftText(std::string_view text, int key) {
  std::string out(text.size(), '\0');
  const auto k = static_cast<std::uint8_t>(key);
  for (std::size_t i = 0; i < text.size(); ++i) {
    out[i] = static_cast<char>(ShiftByte(static_cast<std::uint8_t>(text[i]), k));
  }
  return out;
}

std::uint8_t EncodeByte(std::uint8_t plain, std::uint8_t key) {
  int e = static_cast<int>(plain) - static_cast<int>(key);
  if (e < 0) e += 255;
  return static_cast<std::uint8_t>(e);
}

std::string BuildServerString(std::string_view ip, std::string_view port) {
  std::string group;
  group.append(ip).append("[").append(port).append("]");
  return "CN_IPTCP:" + group + ":" + group;
}

void ParseServerString(std::string_view server, std::string& ip, std::string& port) {
  const std::string group = Piece(server, ':', 2);
  if (group.empty()) return;
  port = Piece(Piece(group, '[', 2), ']', 1);
  ip = Piece(group, '[', 1);
}

double TimeDiff(double start, double finish) {
  if (finish > start) return finish - start;
  return finish + (1.0 - start);
}

double MsToDays(std::uint32_t ms) { return static_cast<double>(ms) / 86400000.0; }

}  // namespace dorvik
