#include "distribution/codepage.h"

#include <gtest/gtest.h>

#include "distribution/funcs.h"

namespace dorvik {
namespace {

TEST(CodePageEdges, RussianTextsAsTheirSingleByteForms) {
  // "Продукт" in code page 1251 and in code page 866.
  EXPECT_EQ(Ru("Продукт"), "\xCF\xF0\xEE\xE4\xF3\xEA\xF2");
  EXPECT_EQ(Utf8ToCp866("Продукт"), "\x8F\xE0\xAE\xA4\xE3\xAA\xE2");
  EXPECT_EQ(Cp1251ToUtf8(Ru("Ёлка ёж")), "Ёлка ёж");
  EXPECT_EQ(Cp866ToUtf8(Utf8ToCp866("Версия 2.9")), "Версия 2.9");
  // The letter tables agree with the real code pages for every letter.
  const std::string alphabet = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя";
  EXPECT_EQ(Cp866ToCp1251(Utf8ToCp866(alphabet)), Ru(alphabet));
  EXPECT_EQ(Cp1251ToCp866(Ru(alphabet)), Utf8ToCp866(alphabet));
}

TEST(CodePageEdges, UnrepresentableTextIsAnError) {
  EXPECT_THROW(Utf8ToCp866("日本"), TextConversionError);
  EXPECT_THROW(Ru("\xFF\xFE"), TextConversionError);
  EXPECT_EQ(Ru(""), "");
  // A conversion that failed half-way (an incomplete UTF-8 sequence at the
  // end) leaves nothing behind for the next text on the same thread.
  EXPECT_THROW(Ru("\xD0"), TextConversionError);
  EXPECT_EQ(Ru("Да"), "\xC4\xE0");
  EXPECT_THROW(Utf8ToCp866("ок\xD0"), TextConversionError);
  EXPECT_EQ(Utf8ToCp866("ок"), "\xAE\xAA");
}

}  // namespace
}  // namespace dorvik
