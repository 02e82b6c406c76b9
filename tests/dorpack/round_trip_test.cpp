// Packing a package and reading the file back with the installer's reader
// gives back every text, whatever the key and wherever the chunk boundaries fall.
#include <gtest/gtest.h>

#include <optional>

#include "distribution/funcs.h"
#include "distribution/reader.h"
#include "dorpack/package_writer.h"
#include "test_files.h"

namespace {

using dorpack::Package;
using dorpack::RoutineSpec;
using dorpack_test::Dos;
using dorpack_test::DosText;
using dorpack_test::PackAndList;
using dorpack_test::ScratchFolder;

RoutineSpec Routine(const std::string& name, std::vector<std::string> utf8Lines) {
  RoutineSpec routine;
  routine.name = name;
  for (const auto& line : utf8Lines) routine.lines.push_back(Dos(line));
  return routine;
}

Package SamplePackage(bool withCheckLabel) {
  Package p;
  p.product = DosText("Велмора Склад");
  p.version = DosText("2.9.1");
  p.buildDate = DosText("08.12.2026");
  p.password = DosText("Пароль для исходников");
  p.postActions.push_back({DosText("Перестроение индексов"), DosText("reindex^VMSETUP")});
  p.postActions.push_back({DosText("Заполнение справочников"), DosText("fill^VMSETUP")});
  if (withCheckLabel) {
    p.checkLabel = DosText("check^VMCHK");
    p.checkRoutines.push_back(Routine("VMCHK", {"VMCHK ; проверка области", "check() q $d(^VM)"}));
  }
  p.routines.push_back(Routine("VMMAIN", {"VMMAIN ; главная программа", " w \"Готово\",!", "", " q"}));
  p.routines.push_back(Routine("%VMLIB", {"%VMLIB ; библиотека", " q"}));
  p.routines.push_back(Routine("VM.Empty", {}));
  return p;
}

template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

void ExpectRoutines(const std::vector<RoutineSpec>& given, const std::vector<dorpack::ListedRoutine>& read) {
  ASSERT_EQ(read.size(), given.size());
  for (std::size_t i = 0; i < given.size(); ++i) {
    EXPECT_EQ(read[i].name, given[i].name);
    EXPECT_EQ(read[i].lines, given[i].lines) << "routine " << given[i].name;
  }
}

// The listing holds what the package gave, in the installer's code pages.
void ExpectSameContent(const Package& p, const dorpack::DistributionListing& read) {
  const auto& h = read.header;
  EXPECT_EQ(h.ProductName, dorvik::Cp866ToCp1251(p.product.bytes));
  EXPECT_EQ(h.Version, p.version.bytes);
  EXPECT_EQ(h.BuildDate, p.buildDate.bytes);
  EXPECT_EQ(h.KeyByte, dorpack::ResolveKey(p));
  EXPECT_EQ(h.SourcePassword, dorvik::Cp866ToCp1251(p.password.bytes));
  EXPECT_EQ(h.CheckLabel, p.checkLabel.bytes);
  ASSERT_EQ(h.PostActionDescriptions.size(), p.postActions.size());
  ASSERT_EQ(h.PostActionLabels.size(), p.postActions.size());
  for (std::size_t i = 0; i < p.postActions.size(); ++i) {
    EXPECT_EQ(h.PostActionDescriptions[i], dorvik::Cp866ToCp1251(p.postActions[i].description.bytes));
    EXPECT_EQ(h.PostActionLabels[i], p.postActions[i].label.bytes);
  }
  ExpectRoutines(p.checkRoutines, read.checkRoutines);
  ExpectRoutines(p.routines, read.routines);
}

TEST(RoundTrip, EveryKeyWithAndWithoutCheckLabel) {
  const ScratchFolder folder;
  for (const std::optional<std::uint8_t> key :
       {std::optional<std::uint8_t>(0), std::optional<std::uint8_t>(1), std::optional<std::uint8_t>(254),
        std::optional<std::uint8_t>(255), std::optional<std::uint8_t>()}) {
    for (const bool withCheckLabel : {true, false}) {
      SCOPED_TRACE("key " + (key ? std::to_string(*key) : std::string("auto")) +
                   (withCheckLabel ? ", check label" : ", no check label"));
      Package p = SamplePackage(withCheckLabel);
      p.key = key;
      ExpectSameContent(p, PackAndList(p, folder));
    }
  }
}

TEST(RoundTrip, ExactBytesOfASmallFile) {
  Package p;
  p.product = DosText("P");
  p.version = DosText("1");
  p.buildDate = DosText("D");
  p.password = DosText("A");
  p.postActions.push_back({DosText("d"), DosText("l^R")});
  p.routines.push_back(Routine("R", {" q"}));

  // Key 0 stores the body as it is; the empty check section is followed by
  // the extra record the installer skips. After the last "@" the integrity
  // marker: no check routines, one routine, the 26 bytes of the file outside
  // the marker and their SHA-256 (as sha256sum gives it for the file with
  // the marker left out).
  const std::string marker = "VMSEAL:2:0:1:1A:C18D6CF4E2CD987643B15E19D7A894B79E2A566164DF689BCE4022EF3CD704DF";
  p.key = 0;
  EXPECT_EQ(dorpack::PackageBytes(p), Bytes("\0\0P\r1\rD\rA\r\rd#l^R@") + marker + "\r\r\rR\n q\n\r");

  // Key 200: plain p is stored as p - 200, plus 255 when negative.
  p.key = 200;
  // The digest is of the stored (encoded) bytes.
  const std::string marker200 = "VMSEAL:2:0:1:1A:5EB48DE75755AD03236748740DEB31193D4813EA280CB8DC61882900D4F2E211";
  std::string encodedMarker;
  for (const char c : marker200)
    encodedMarker += static_cast<char>(dorvik::EncodeByte(static_cast<std::uint8_t>(c), 200));
  const std::string encoded =
      std::string{'\x00', '\xC8', 'P',    '\r',   '1',    '\r', 'D', '\r',  // the header stays plain
                  'x',    'D',                                              // "A", record end
                  'D',                                                      // empty check label
                  '\x9B', 'Z',    '\xA3', '\x95', '\x89', 'w'} +            // "d" "#" "l^R" "@"
      encodedMarker +
      std::string{'D',                                  // record end
                  'D',    'D',                          // end of check routines, extra record
                  '\x89', 'A', 'W', '\xA8', 'A', 'D'};  // "R" LF " q" LF, record end
  EXPECT_EQ(dorpack::PackageBytes(p), encoded);
}

TEST(RoundTrip, FieldsAndRecordsAcrossChunkBoundaries) {
  const ScratchFolder folder;
  // Shifting everything by one byte at a time puts every kind of separator,
  // and every byte of the records around them, on a 10240-byte boundary.
  for (int shift = 0; shift < 72; ++shift) {
    SCOPED_TRACE("shift " + std::to_string(shift));
    Package p = SamplePackage(true);
    p.key = 7;
    p.password.bytes = Dos(std::string(10150 + static_cast<std::size_t>(shift), 'x') + "Ж");
    for (int i = 0; i < 400; ++i) {
      const auto n = std::to_string(i);
      p.routines.push_back(Routine("VMR" + n, {"VMR" + n + " ; строка " + n,
                                               " s x=" + std::string(static_cast<std::size_t>(i % 37), 'y'), " q"}));
    }
    ExpectSameContent(p, PackAndList(p, folder));
  }
}

TEST(RoundTrip, HeaderLongerThanAChunk) {
  const ScratchFolder folder;
  // Chunks start at offset 2: a product of 10240 bytes puts its separator at
  // the first byte of the second chunk.
  for (const std::size_t productLength : {10239u, 10240u, 10241u, 12000u}) {
    SCOPED_TRACE("product of " + std::to_string(productLength) + " bytes");
    Package p = SamplePackage(false);
    p.product.bytes = Dos(std::string(productLength - 1, 'V') + "Я");
    p.version.bytes = std::string(3000, '9');
    ExpectSameContent(p, PackAndList(p, folder));
  }
}

TEST(RoundTrip, TwoHundredKilobyteRoutines) {
  const ScratchFolder folder;
  Package p = SamplePackage(true);
  RoutineSpec many = Routine("VMBIG", {"VMBIG ; большая программа"});
  while (many.lines.size() * 80 < 200 * 1024) {
    many.lines.push_back(Dos(" s ^VM(" + std::to_string(many.lines.size()) + ")=\"Данные строки\"") +
                         std::string(40, '.'));
  }
  p.routines.insert(p.routines.begin() + 1, many);
  // One line longer than the installer's nominal record buffer.
  p.routines.push_back(Routine("VMWIDE", {" s x=\"" + std::string(200 * 1024, 'w') + "\""}));
  ExpectSameContent(p, PackAndList(p, folder));
}

TEST(RoundTrip, LibraryTestSeesTheFirstRoutine) {
  // The wizard's library test reads ahead over the check section the packer
  // wrote; it must land on the first routine with and without a check label.
  const ScratchFolder folder;
  for (const bool withCheckLabel : {true, false}) {
    for (const bool libraryFirst : {true, false}) {
      SCOPED_TRACE(std::string(withCheckLabel ? "check label" : "no check label") +
                   (libraryFirst ? ", library routine first" : ", library routine second"));
      Package p = SamplePackage(withCheckLabel);
      std::swap(p.routines[0], p.routines[libraryFirst ? 1 : 2]);
      const auto file = folder.Write("dorpack.dat", dorpack::PackageBytes(p));
      dorvik::DistributionReader reader(file);
      dorvik::Distribution dist;
      dorvik::InstallLog log;
      ASSERT_TRUE(reader.ReadHeader(dist, log));
      EXPECT_EQ(reader.IsLibraryDistribution(true), libraryFirst);
    }
  }
}

TEST(KeyChoice, AutoAvoidsSeparatorsAndBodyBytesAndPrefersScrambling) {
  Package p = SamplePackage(false);
  std::string used;
  for (int b = 1; b <= 12; ++b) used.push_back(static_cast<char>(b));
  p.routines.push_back(RoutineSpec{"VMBYTES", {used}, ""});
  // 1..12 are taken, 13 is the record separator's plain byte.
  EXPECT_EQ(dorpack::ResolveKey(p), 14);

  std::string all;
  for (int b = 1; b <= 254; ++b) {
    if (b != 10 && b != 13 && b != 245) all.push_back(static_cast<char>(b));
  }
  p.routines.back().lines = {all};
  EXPECT_EQ(dorpack::ResolveKey(p), 245);

  // Every byte 1..254 in use: 255 (stores the body as it is) still fits.
  all.push_back(static_cast<char>(245));
  p.routines.back().lines = {all};
  EXPECT_EQ(dorpack::ResolveKey(p), 255);
  p.routines.back().lines.push_back(std::string(1, '\xFF'));
  EXPECT_EQ(dorpack::ResolveKey(p), 0);
  const ScratchFolder folder;
  ExpectSameContent(p, PackAndList(p, folder));
}

}  // namespace
