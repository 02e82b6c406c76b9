// The table `dorpack list` prints for a person: Russian captions, counts
// with the word form Russian gives each number, and columns that stay
// aligned although a Cyrillic letter takes two bytes.
#include <gtest/gtest.h>

#include <sstream>

#include "distribution/codepage.h"
#include "dorpack/listing_output.h"

namespace {

using dorpack::DistributionListing;
using dorpack::ListedRoutine;

ListedRoutine Routine(const std::string& name, std::size_t lines) {
  return ListedRoutine{name, std::vector<std::string>(lines, " q")};
}

TEST(DorpackListing, TableInRussianWithWordFormsAndAlignedColumns) {
  DistributionListing listing;
  auto& h = listing.header;
  h.ProductName = dorvik::Utf8ToCp1251("Склад");
  h.Version = "2.9";
  h.BuildDate = "08.12.2026";
  h.KeyByte = 7;
  h.SourcePassword = dorvik::Utf8ToCp1251("Секрет");
  h.PostActionDescriptions = {dorvik::Utf8ToCp1251("Индексы")};
  h.PostActionLabels = {"idx^VMA"};
  // 1, 21: "строка"; 2-4, 22: "строки"; 0, 5, 11-14: "строк". Each line is
  // " q" and its line end: three bytes.
  listing.routines = {Routine("VMA", 1),  Routine("VMB", 2),  Routine("VMC", 5),  Routine("VMD", 11),
                      Routine("VME", 12), Routine("VMF", 21), Routine("VMG", 22), Routine("VMH", 0)};
  std::ostringstream out;
  dorpack::PrintListing(listing, out);
  EXPECT_EQ(out.str(),
            "Продукт:          Склад\n"
            "Версия:           2.9\n"
            "Дата сборки:      08.12.2026\n"
            "Ключ:             7\n"
            "Пароль:           Секрет\n"
            "Метка проверки:   (нет)\n"
            "Последействия:    1\n"
            "  1. Индексы  ($$idx^VMA)\n"
            "Программы проверки: 0\n"
            "Программы: 8\n"
            "  VMA          1 строка         3 байта\n"
            "  VMB          2 строки         6 байт\n"
            "  VMC          5 строк         15 байт\n"
            "  VMD         11 строк         33 байта\n"
            "  VME         12 строк         36 байт\n"
            "  VMF         21 строка        63 байта\n"
            "  VMG         22 строки        66 байт\n"
            "  VMH          0 строк          0 байт\n"
            "Целостность:      нет отметки целостности (обрезанный файл не всегда можно распознать)\n");
}

}  // namespace
