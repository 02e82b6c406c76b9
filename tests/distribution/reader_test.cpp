#include "distribution/reader.h"

#include <gtest/gtest.h>

#include <random>

#include "data_file_image.h"
#include "distribution/codepage.h"

namespace dorvik {
namespace {

using testing::DataFileImage;

struct Routine {
  std::string name;
  std::vector<std::string> lines;
  bool operator==(const Routine&) const = default;
};

// Everything the installation reads from a file, in the stages' order.
struct Contents {
  bool structureOk = true;
  std::vector<Routine> checkRoutines;
  std::int64_t checkCount = -1;
  std::vector<Routine> routines;
  std::int64_t routineCount = -1;
};

Routine Decode(const DistributionReader& r, const std::string& record) {
  auto lines = r.DecodeRoutineLines(record);
  Routine routine;
  if (!lines.empty()) {
    routine.name = lines.front();
    routine.lines.assign(lines.begin() + 1, lines.end());
  }
  return routine;
}

Contents ReadBody(DistributionReader& r, Distribution& d) {
  Contents c;
  {
    DistributionReader::Section section(r);
    d.CheckLabel = r.ReadField(r.RecordSeparator());
    r.ReadRecord();
    if (!r.ParsePostActionList(d)) {
      c.structureOk = false;
      return c;
    }
    d.CheckLabel = ShiftText(d.CheckLabel, d.KeyByte);
    r.ReadRecord();
    if (!d.CheckLabel.empty()) {
      r.MarkResume();
      c.checkCount = r.CountRecords();
      r.SeekResume();
      while (!r.Record().empty()) {
        c.checkRoutines.push_back(Decode(r, r.Record()));
        r.ReadRecord();
      }
    } else {
      r.ReadRecord();
    }
    section.Finish();
  }
  {
    DistributionReader::Section section(r);
    r.ReadRecord();
    r.MarkResume();
    c.routineCount = r.CountRecords();
    r.SeekResume();
    while (!r.Record().empty()) {
      c.routines.push_back(Decode(r, r.Record()));
      r.ReadRecord();
    }
    section.Finish();
  }
  return c;
}

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("reader-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = dir_ / "dorpack.dat";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
  std::filesystem::path path_;
};

std::string Product() { return Utf8ToCp866("Учет кадров"); }

TEST_F(ReaderTest, ReadsEverySectionForTypicalKeys) {
  for (int key : {0, 1, 7, 254, 255}) {
    SCOPED_TRACE("key " + std::to_string(key));
    const std::vector<std::string> big(3000, " s x=$p(y,\"^\",2) q");  // straddles chunks
    DataFileImage img(static_cast<std::uint8_t>(key));
    img.Header(Product(), "1.2", "08.12.2026")
        .Record(Utf8ToCp866("пароль"))
        .Record("chk^CHK1")
        .Record(Utf8ToCp866("Индексы") + "#ind^POST@" + Utf8ToCp866("Отчет") + "#rep^POST@")
        .Routine("CHK1", {"CHK1 ;check", "chk() q \"\""})
        .Routine("CHK2", {"CHK2 ;", " q"})
        .Record("")
        .Routine("%ZLIB", {"%ZLIB ;lib", " q"})
        .Routine("BIG", big)
        .Routine("LAST", {"LAST", " q"})
        .Record("")
        .Raw("trailing bytes that nobody reads");
    img.Write(path_);

    DistributionReader r(path_);
    Distribution d;
    InstallLog log;
    ASSERT_TRUE(r.ReadHeader(d, log));
    EXPECT_EQ(d.ProductName, Ru("Учет кадров"));
    EXPECT_EQ(d.Version, "1.2");
    EXPECT_EQ(d.BuildDate, "08.12.2026");
    EXPECT_EQ(d.KeyByte, key);
    EXPECT_EQ(d.SourcePassword, Ru("пароль"));
    EXPECT_TRUE(r.IsLibraryDistribution(true));
    EXPECT_FALSE(r.IsLibraryDistribution(false));

    const Contents c = ReadBody(r, d);
    ASSERT_TRUE(c.structureOk);
    EXPECT_EQ(d.CheckLabel, "chk^CHK1");
    ASSERT_EQ(d.PostActionDescriptions.size(), 2u);
    EXPECT_EQ(d.PostActionDescriptions[1], Ru("Отчет"));
    EXPECT_EQ(d.PostActionLabels, (std::vector<std::string>{"ind^POST", "rep^POST"}));
    EXPECT_EQ(c.checkCount, 2);
    EXPECT_EQ(c.checkRoutines,
              (std::vector<Routine>{{"CHK1", {"CHK1 ;check", "chk() q \"\""}}, {"CHK2", {"CHK2 ;", " q"}}}));
    EXPECT_EQ(c.routineCount, 3);
    ASSERT_EQ(c.routines.size(), 3u);
    EXPECT_EQ(c.routines[1], (Routine{"BIG", big}));
    EXPECT_EQ(c.routines[2].name, "LAST");
  }
}

TEST_F(ReaderTest, HeaderFailuresStillLogTheirLines) {
  InstallLog log;
  Distribution d;
  EXPECT_FALSE(DistributionReader(dir_ / "missing.dat").ReadHeader(d, log));
  EXPECT_TRUE(log.Lines().empty());

  DataFileImage(5).Write(path_);  // two bytes only
  EXPECT_FALSE(DistributionReader(path_).ReadHeader(d, log));
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{Ru("Продукт: "), Ru("Версия: "), Ru("Дата сборки: "), "",
                                                   Ru("Ошибка GUI приложения: файл кончается на смещении 2, поле "
                                                      "«название продукта» не дописано")}));

  InstallLog log2;
  DataFileImage(5).Field("P").Field("").Field("d").Record("pw").Write(path_);
  EXPECT_FALSE(DistributionReader(path_).ReadHeader(d, log2));
  EXPECT_EQ(log2.Lines()[1], Ru("Версия: "));
  EXPECT_EQ(log2.Lines()[2], Ru("Дата сборки: ") + "d");

  EXPECT_EQ(log2.Lines().back(), Ru("Ошибка GUI приложения: пустое поле «версия» на смещении 4"));

  InstallLog log3;
  DataFileImage(5).Header("P", "1", "d").Record("").Write(path_);
  EXPECT_FALSE(DistributionReader(path_).ReadHeader(d, log3));
  EXPECT_EQ(log3.Lines().back(), Ru("Ошибка GUI приложения: нет пароля исходных текстов на смещении 8"));
}

TEST_F(ReaderTest, FieldsEndedByCrLfKeepTheLineFeed) {
  DataFileImage(9).Field("P").Raw("\n1\r\nD\r").Record("pw").Record("").Record("").Record("").Record("").Write(path_);
  Distribution d;
  InstallLog log;
  ASSERT_TRUE(DistributionReader(path_).ReadHeader(d, log));
  EXPECT_EQ(d.Version, "\n1");
  EXPECT_EQ(d.BuildDate, "\nD");
}

TEST_F(ReaderTest, LongHeaderAndSeparatorsAtChunkEdges) {
  for (std::size_t productLen : {std::size_t{10236}, std::size_t{10237}, std::size_t{10238}, std::size_t{20000}}) {
    SCOPED_TRACE(productLen);
    // Offsets: 2 + productLen is where the product's separator lies; 10237
    // puts it at the first byte of the second chunk.
    const std::string product(productLen, 'P');
    const std::string password(9000, 'w');
    DataFileImage(3)
        .Header(product, "v", "b")
        .Record(password)
        .Record("")
        .Record("")
        .Record("")
        .Record("")
        .Routine("R", {"R", " q"})
        .Write(path_);
    DistributionReader r(path_);
    Distribution d;
    InstallLog log;
    ASSERT_TRUE(r.ReadHeader(d, log));
    EXPECT_EQ(d.ProductName, product);
    EXPECT_EQ(d.Version, "v");
    EXPECT_EQ(d.SourcePassword, password);
    const Contents c = ReadBody(r, d);
    ASSERT_EQ(c.routines.size(), 1u);
    EXPECT_EQ(c.routines[0].lines, (std::vector<std::string>{"R", " q"}));
  }
}

TEST_F(ReaderTest, FieldsAndRecordsCutByTheEndOfTheFileAreDamage) {
  // The build date has no separator: the three lines are logged, then why.
  for (const std::string& date : {std::string("date"), std::string(15000, 'D')}) {
    DataFileImage(3).Field("P").Field("v").Raw(date).Write(path_);
    Distribution d;
    InstallLog log;
    DistributionReader r(path_);
    EXPECT_FALSE(r.ReadHeader(d, log));
    ASSERT_EQ(log.Lines().size(), 5u);
    EXPECT_EQ(log.Lines()[1], Ru("Версия: v"));
    const std::string cut =
        Ru("файл кончается на смещении ") + std::to_string(6 + date.size()) + Ru(", поле «дата сборки» не дописано");
    EXPECT_EQ(log.Lines()[4].rfind(Ru("Ошибка GUI приложения: ") + cut, 0), 0u) << log.Lines()[4];
    EXPECT_EQ(r.Damage().rfind(cut, 0), 0u);
  }

  // A post-action list cut off is found by the read-ahead of the header.
  DataFileImage(3).Header("P", "v", "b").Record("pw").Record("").Encoded("d#a^B@").Write(path_);
  {
    Distribution d;
    InstallLog log;
    DistributionReader r(path_);
    EXPECT_FALSE(r.ReadHeader(d, log));
    EXPECT_NE(r.Damage().find(Ru("файл обрывается на смещении")), std::string::npos);
  }

  // The last routine without its record separator, short (all in the last
  // chunk) and long (spanning chunks): the count already refuses it, before
  // any routine of the section is read.
  for (std::size_t length : {std::size_t{20}, std::size_t{30000}}) {
    SCOPED_TRACE(length);
    DataFileImage img(3);
    img.Header("P", "v", "b")
        .Record("pw")
        .Record("")
        .Record("")
        .Record("")
        .Record("")
        .Routine("A", {"ok"})
        .Encoded("B\n" + std::string(length, 'x') + "\n");
    img.Write(path_);
    DistributionReader r(path_);
    Distribution d;
    InstallLog log;
    ASSERT_TRUE(r.ReadHeader(d, log));
    EXPECT_THROW(ReadBody(r, d), DamagedFileError);
    EXPECT_NE(r.Damage().find(Ru("файл обрывается на смещении")), std::string::npos) << r.Damage();
  }

  // A file that ends where a record every installation reads must begin is
  // cut, and names that record: it never counts as an empty distribution.
  // Only the routine section may end with the file.
  struct Case {
    int records;  // after the password: label "", post-actions "", then empty records
    const char* missing;
  };
  for (const Case& c : {Case{0, "метка проверки"}, Case{1, "список последействий"},
                        Case{2, "программа проверки или пустая запись после них"},
                        Case{3, "запись после пустой записи программ проверки"}, Case{4, nullptr}}) {
    DataFileImage img(3);
    img.Header("P", "v", "b").Record("pw");
    for (int i = 0; i < c.records; ++i) img.Record("");
    img.Write(path_);
    DistributionReader r(path_);
    Distribution d;
    InstallLog log;
    if (c.missing == nullptr) {
      ASSERT_TRUE(r.ReadHeader(d, log)) << r.Damage();
      EXPECT_TRUE(ReadBody(r, d).routines.empty());
      EXPECT_EQ(r.Damage(), "");
      continue;
    }
    EXPECT_FALSE(r.ReadHeader(d, log)) << c.records;
    EXPECT_EQ(r.Damage(), Ru("файл обрывается на смещении ") + std::to_string(std::filesystem::file_size(path_)) +
                              Ru(", где должна начинаться запись: ") + Ru(c.missing));
    EXPECT_EQ(log.Lines().back(), Ru("Ошибка GUI приложения: ") + r.Damage());
  }
}

TEST_F(ReaderTest, PostActionListEdges) {
  {
    DataFileImage img(200);
    img.Header("P", "v", "b")
        .Record("pw")
        .Record("")
        .Encoded("one#a^B@trailing without at")
        .Raw(std::string(1, static_cast<char>(EncodeByte(13, 200))));
    img.Record("").Record("").Routine("R", {"R"});
    img.Write(path_);
    DistributionReader r(path_);
    Distribution d;
    InstallLog log;
    ASSERT_TRUE(r.ReadHeader(d, log));
    const Contents c = ReadBody(r, d);
    ASSERT_TRUE(c.structureOk);
    EXPECT_EQ(d.PostActionDescriptions, std::vector<std::string>{"one"});
    EXPECT_EQ(d.PostActionLabels, std::vector<std::string>{"a^B"});
    EXPECT_EQ(c.routines.size(), 1u);
  }
  {
    DataFileImage(200)
        .Header("P", "v", "b")
        .Record("pw")
        .Record("")
        .Record("one#a^B@two without pair@")
        .Record("")
        .Record("")
        .Write(path_);
    DistributionReader r(path_);
    Distribution d;
    InstallLog log;
    ASSERT_TRUE(r.ReadHeader(d, log));
    EXPECT_FALSE(ReadBody(r, d).structureOk);
    EXPECT_EQ(d.PostActionDescriptions, std::vector<std::string>{"one"});
    EXPECT_EQ(d.PostActionLabels, std::vector<std::string>{"a^B"});
  }
}

TEST_F(ReaderTest, ExtraRecordAfterEmptyCheckSectionIsSkipped) {
  DataFileImage img(11);
  img.Header("P", "v", "b")
      .Record("pw")
      .Record("")
      .Record("")
      .Record("")
      .Routine("SKIPPED", {"x"})
      .Routine("FIRST", {"FIRST", " q"})
      .Routine("SECOND", {"SECOND ;% not in name"});
  img.Write(path_);
  DistributionReader r(path_);
  Distribution d;
  InstallLog log;
  ASSERT_TRUE(r.ReadHeader(d, log));
  EXPECT_FALSE(r.IsLibraryDistribution(true));  // looks at FIRST's name only
  const Contents c = ReadBody(r, d);
  EXPECT_EQ(c.checkCount, -1);
  ASSERT_EQ(c.routines.size(), 2u);
  EXPECT_EQ(c.routines[0].name, "FIRST");
  EXPECT_EQ(c.routineCount, 2);
}

TEST_F(ReaderTest, LibraryTestLooksAtTheFirstRoutineWithOrWithoutCheckSection) {
  // With a check label, the first distribution routine decides, even when it
  // is the only one and the post-action list is empty.
  DataFileImage(11)
      .Header("P", "v", "b")
      .Record("pw")
      .Record("c^CHK")
      .Record("")
      .Routine("CHK", {"c() q 1"})
      .Record("")
      .Routine("%LIB", {"x"})
      .Write(path_);
  DistributionReader r(path_);
  Distribution d;
  InstallLog log;
  ASSERT_TRUE(r.ReadHeader(d, log));
  const auto before = r.ResumePosition();
  EXPECT_TRUE(r.IsLibraryDistribution(true));
  EXPECT_EQ(r.ResumePosition(), before);
  const Contents c = ReadBody(r, d);  // the read-ahead moved nothing
  ASSERT_EQ(c.routines.size(), 1u);
  EXPECT_EQ(c.routines[0].name, "%LIB");
  ASSERT_EQ(c.checkRoutines.size(), 1u);

  // A name line without its separator answers false.
  DataFileImage(11)
      .Header("P", "v", "b")
      .Record("pw")
      .Record("")
      .Record("")
      .Record("")
      .Record("")
      .Record("%NOSEP")
      .Write(path_);
  DistributionReader r2(path_);
  ASSERT_TRUE(r2.ReadHeader(d, log));
  EXPECT_FALSE(r2.IsLibraryDistribution(true));
}

TEST_F(ReaderTest, RoutineLinesAndCounting) {
  DataFileImage img(42);
  img.Header("P", "v", "b")
      .Record("pw")
      .Record("")
      .Record("")
      .Record("")
      .Record("")
      .Routine("NAME", {"line one"})
      .Routine("B", {})
      .Record("")
      .Routine("AFTER", {"never read"});
  img.Write(path_);
  DistributionReader r(path_);
  Distribution d;
  InstallLog log;
  ASSERT_TRUE(r.ReadHeader(d, log));
  const Contents c = ReadBody(r, d);
  ASSERT_EQ(c.routines.size(), 2u);
  EXPECT_EQ(c.routines[0], (Routine{"NAME", {"line one"}}));
  EXPECT_EQ(c.routines[1], (Routine{"B", {}}));
  EXPECT_EQ(c.routineCount, 2);
  // Without any line end a record names no routine: no lines, as before.
  EXPECT_TRUE(r.DecodeRoutineLines("no separator at all").empty());
  EXPECT_EQ(r.Damage(), "");
  // A last line without its line end was once dropped in silence.
  const auto lf = static_cast<char>(r.LineSeparator());
  try {
    r.DecodeRoutineLines(std::string("NAME") + lf + "line one" + lf + "no separator");
    FAIL() << "a cut line went unnoticed";
  } catch (const DamagedFileError& e) {
    EXPECT_EQ(std::string(e.what()), Ru("программа ") + ShiftText("NAME", 42) +
                                         Ru(": 12 байт после конца её последней строки (строка оборвана)"));
  }
  EXPECT_EQ(r.Damage(), Ru("программа ") + ShiftText("NAME", 42) +
                            Ru(": 12 байт после конца её последней строки (строка оборвана)"));
}

TEST_F(ReaderTest, CountingLeavesTheReaderWhereItWas) {
  DataFileImage img(1);
  img.Header("P", "v", "b").Record("pw").Record("").Record("").Record("").Record("");
  for (int i = 0; i < 500; ++i) img.Routine("R" + std::to_string(i), {std::string(100, 'x')});
  img.Write(path_);
  DistributionReader r(path_);
  Distribution d;
  InstallLog log;
  ASSERT_TRUE(r.ReadHeader(d, log));
  DistributionReader::Section s(r);
  r.ReadRecord();  // check label field read as a record: empty
  EXPECT_EQ(r.CountRecords(), 0);
  for (int i = 0; i < 3; ++i) r.ReadRecord();
  r.ReadRecord();
  ASSERT_EQ(r.DecodeRoutineLines(r.Record()).front(), "R0");
  r.MarkResume();
  EXPECT_EQ(r.CountRecords(), 500);
  r.SeekResume();
  r.ReadRecord();
  EXPECT_EQ(r.DecodeRoutineLines(r.Record()).front(), "R1");
}

TEST_F(ReaderTest, LongRecordsGrowAndOversizedOnesAreRefused) {
  // A 200 KB routine is more than a fixed record buffer of 153600 bytes holds.
  std::vector<std::string> lines(2000, std::string(99, 'z'));
  DataFileImage(17)
      .Header("P", "v", "b")
      .Record("pw")
      .Record("")
      .Record("")
      .Record("")
      .Record("")
      .Routine("HUGE", lines)
      .Write(path_);
  {
    DistributionReader r(path_);
    Distribution d;
    InstallLog log;
    ASSERT_TRUE(r.ReadHeader(d, log));
    const Contents c = ReadBody(r, d);
    ASSERT_EQ(c.routines.size(), 1u);
    EXPECT_EQ(c.routines[0].lines, lines);
  }
  // Past the hard cap the file counts as damaged, in reading and in counting.
  DataFileImage img(17);
  img.Header("P", "v", "b").Record("pw").Record("").Record("").Record("").Record("");
  img.Raw(std::string(DistributionReader::kMaxRecordSize + 1, 'a')).Encoded("\r");
  img.Write(path_);
  DistributionReader r(path_);
  Distribution d;
  InstallLog log;
  ASSERT_TRUE(r.ReadHeader(d, log));
  DistributionReader::Section s(r);
  for (int i = 0; i < 4; ++i) r.ReadRecord();
  EXPECT_THROW(r.ReadRecord(), DamagedFileError);
}

TEST_F(ReaderTest, ZeroBytesMeanADamagedFile) {
  DataFileImage img(4);
  img.Header("P", "v", "b")
      .Record("pw")
      .Record("")
      .Record("")
      .Record("")
      .Record("")
      .Routine("A", {"ok"})
      .Raw(std::string("\x10\x20\x00\x30", 4))
      .Routine("B", {"lost"});
  img.Write(path_);
  DistributionReader r(path_);
  Distribution d;
  InstallLog log;
  ASSERT_TRUE(r.ReadHeader(d, log));
  try {
    ReadBody(r, d);
    FAIL() << "a zero byte went unnoticed";
  } catch (const DamagedFileError& e) {
    EXPECT_NE(std::string(e.what()).find(Ru("нулевой байт на смещении")), std::string::npos) << e.what();
  }

  InstallLog log2;
  DataFileImage(4).Field(std::string("P\0Q", 3)).Field("v").Field("b").Record("pw").Write(path_);
  EXPECT_FALSE(DistributionReader(path_).ReadHeader(d, log2));
  EXPECT_EQ(log2.Lines().back().rfind(Ru("Ошибка GUI приложения: "), 0), 0u);
}

TEST_F(ReaderTest, RandomLayoutsRoundTrip) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 30; ++round) {
    const auto key = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(100, 250)(rng));
    if (key == 13 || key == 10 || key == 64 || key == 35) continue;
    std::vector<Routine> routines;
    DataFileImage img(key);
    img.Header("P", "v", "b").Record("pw").Record("").Record("").Record("").Record("");
    const int n = std::uniform_int_distribution<int>(1, 60)(rng);
    for (int i = 0; i < n; ++i) {
      Routine rt{"R" + std::to_string(i), {}};
      const int lines = std::uniform_int_distribution<int>(0, 40)(rng);
      for (int l = 0; l < lines; ++l) {
        std::string line(std::uniform_int_distribution<int>(0, 700)(rng), ' ');
        for (auto& ch : line) ch = static_cast<char>(std::uniform_int_distribution<int>(32, 99)(rng));
        rt.lines.push_back(line);
      }
      img.Routine(rt.name, rt.lines);
      routines.push_back(rt);
    }
    img.Write(path_);
    DistributionReader r(path_);
    Distribution d;
    InstallLog log;
    ASSERT_TRUE(r.ReadHeader(d, log));
    const Contents c = ReadBody(r, d);
    EXPECT_EQ(c.routines, routines);
    EXPECT_EQ(c.routineCount, n);
  }
}

}  // namespace
}  // namespace dorvik
