#include "distribution/funcs.h"

#include <gtest/gtest.h>

#include "distribution/timefmt.h"

namespace dorvik {
namespace {

std::string Bytes(std::initializer_list<unsigned> values) {
  std::string s;
  for (unsigned v : values) s.push_back(static_cast<char>(v));
  return s;
}

TEST(Piece, CutsAtTheDelimiterCountingFromOne) {
  EXPECT_EQ(Piece("a:b:c", ':', 2), "b");
  EXPECT_EQ(Piece("a:b:c", ':', 3), "c");
  EXPECT_EQ(Piece("a:b", ':', 3), "");
  EXPECT_EQ(Piece("abc", ':', 1), "abc");
  EXPECT_EQ(Piece("abc", ':', 2), "");
  EXPECT_EQ(Piece("a::b", ':', 2), "");
  EXPECT_EQ(Piece("a::b", ':', 3), "b");
  EXPECT_EQ(Piece("a:b", ':', 0), "a");
  EXPECT_EQ(Piece("a:b", ':', -5), "a");
  for (int n = -1; n <= 3; ++n) EXPECT_EQ(Piece("", ':', n), "");
  EXPECT_EQ(Piece("x:", ':', 2), "");
}

TEST(CountChar, CountsEqualBytes) {
  EXPECT_EQ(CountChar("", '_'), 0);
  EXPECT_EQ(CountChar("Да_Нет_", '_'), 2);
  EXPECT_EQ(CountChar(Bytes({0xFF, 0x41, 0xFF}), static_cast<char>(0xFF)), 2);
}

TEST(Translate, ReplacesDropsAndKeepsBytes) {
  EXPECT_EQ(Translate(" 1 2  3 ", " ", ""), "123");
  EXPECT_EQ(Translate("abcabc", "ab", "x"), "xcxc");
  // Only the first occurrence of a byte in `from` counts.
  EXPECT_EQ(Translate("aa", "aa", "xy"), "xx");
  // A zero byte is never looked up.
  EXPECT_EQ(Translate(std::string("a\0b", 3), "ab", "AB"), std::string("A\0B", 3));
}

TEST(CodePages, LettersMoveAndEverythingElseStays) {
  EXPECT_EQ(Cp866ToCp1251(Bytes({0x80, 0xAF, 0xE0, 0xEF, 0xFF})), Bytes({0xC0, 0xEF, 0xF0, 0xFF, 0x03}));
  EXPECT_EQ(Cp1251ToCp866(Bytes({0xC0, 0xEF, 0xF0, 0xFF, 0x03})), Bytes({0x80, 0xAF, 0xE0, 0xEF, 0xFF}));
  std::string unchanged;
  for (unsigned b = 1; b < 0x80; ++b) unchanged.push_back(static_cast<char>(b));
  for (unsigned b = 0xB0; b <= 0xDF; ++b) unchanged.push_back(static_cast<char>(b));
  for (unsigned b = 0xF0; b <= 0xFE; ++b) unchanged.push_back(static_cast<char>(b));
  EXPECT_EQ(Cp866ToCp1251(unchanged), unchanged);
  // Ё and ё of code page 1251 have no place in the table.
  EXPECT_EQ(Cp1251ToCp866(Bytes({0xA8, 0xB8})), Bytes({0xA8, 0xB8}));
  // Letters and plain ASCII survive the round trip.
  std::string letters = "Install ";
  for (unsigned b = 0x80; b <= 0xAF; ++b) letters.push_back(static_cast<char>(b));
  for (unsigned b = 0xE0; b <= 0xEF; ++b) letters.push_back(static_cast<char>(b));
  letters.push_back(static_cast<char>(0xFF));
  EXPECT_EQ(Cp1251ToCp866(Cp866ToCp1251(letters)), letters);
  // Box drawing does not: 0xC0 of 866 comes back as 0x80.
  EXPECT_EQ(Cp1251ToCp866(Cp866ToCp1251(Bytes({0xC0}))), Bytes({0x80}));
}

TEST(ShiftText, WrapsBy255) {
  EXPECT_EQ(ShiftText("plain", 0), "plain");
  EXPECT_EQ(ShiftText(Bytes({0xFF}), 1), Bytes({0x01}));  // 256 -> 1, never 0
  EXPECT_EQ(ShiftText(Bytes({0xFE}), 1), Bytes({0xFF}));  // 255 stays
  EXPECT_EQ(ShiftText(Bytes({0xFF}), 5), Bytes({0x05}));  // 260 -> 5
  EXPECT_EQ(ShiftText("", 200).size(), 0u);
  // EncodeByte inverts the shift for every byte the format can carry.
  for (int key = 0; key < 256; ++key) {
    for (int p = 1; p < 256; ++p) {
      if (p == key) continue;  // would be stored as zero
      const auto e = EncodeByte(static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(key));
      ASSERT_EQ(static_cast<unsigned char>(ShiftText(std::string(1, static_cast<char>(e)), key)[0]), p)
          << "key " << key << " byte " << p;
    }
  }
}

TEST(ServerString, BuildsAndParses) {
  EXPECT_EQ(BuildServerString("127.0.0.1", "1972"), "CN_IPTCP:127.0.0.1[1972]:127.0.0.1[1972]");
  std::string ip = "keep", port = "same";
  ParseServerString("no colon here", ip, port);
  EXPECT_EQ(ip, "keep");
  EXPECT_EQ(port, "same");
  ParseServerString(BuildServerString("10.0.0.5", "56773"), ip, port);
  EXPECT_EQ(ip, "10.0.0.5");
  EXPECT_EQ(port, "56773");
  ParseServerString("CN_IPTCP:host:rest", ip, port);
  EXPECT_EQ(ip, "host");
  EXPECT_EQ(port, "");
}

TEST(Time, DurationsAcrossMidnightAndFormats) {
  EXPECT_NEAR(TimeDiff(0.9, 0.1), 0.2, 1e-12);
  EXPECT_DOUBLE_EQ(TimeDiff(0.25, 0.25), 1.0);
  EXPECT_DOUBLE_EQ(TimeDiff(0.25, 0.5), 0.25);
  EXPECT_DOUBLE_EQ(MsToDays(86400000u), 1.0);
  EXPECT_GT(MsToDays(4294967295u), 49.0);
  EXPECT_EQ(FormatLongTime(0.5), "12:00:00");
  EXPECT_EQ(FormatLongTime(TimeDiff(23.0 / 24 + 59.5 / 1440, 1.0 / 1440)), "0:01:30");
  EXPECT_EQ(FormatLongTime(MsToDays(3723000)), "1:02:03");
  EXPECT_EQ(FormatShortDate({2026, 12, 8}), "08.12.2026");
}

}  // namespace
}  // namespace dorvik
