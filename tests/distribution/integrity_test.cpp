// The SHA-256 against published and independently computed digests, the
// integrity marker's two spellings, and the reader refusing a sealed file
// that was cut or changed before anything of it is read.
#include <gtest/gtest.h>

#include "data_file_image.h"
#include "distribution/codepage.h"
#include "distribution/integrity_marker.h"
#include "distribution/reader.h"
#include "distribution/sha256.h"

namespace dorvik {
namespace {

using testing::DataFileImage;

TEST(Sha256, KnownDigestsAndBlockEdges) {
  EXPECT_EQ(Sha256::Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256::Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256::Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // Lengths around the padding edges (55/56 and 119/120 bytes), from sha256sum.
  const std::vector<std::pair<std::size_t, std::string>> edges{
      {55, "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
      {56, "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
      {63, "75220b47218278e656f2013bb8f0c455a25eaf01e86c64924e9d48d89776d6f2"},
      {64, "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
      {65, "9537c5fdf120482f7d58d25e9ed583f52c02b4e304ea814db1633ad565aed7e9"},
      {119, "000b48d4edf0fa7bee3c6236ecd2785baa5db4eeb8bb54341b029e0d9fa5fb0c"},
      {120, "13f05a0b594787f5ecd315edc96141bd3243203d1b7d4f0836f37308b276ba98"},
      {1000, "44f8354494a5ba03ba1792a8d3e9c534c47a9181980fde7a3f44b06ef2ae7c7f"}};
  for (const auto& [n, digest] : edges) EXPECT_EQ(Sha256::Hex(std::string(n, 'x')), digest) << n;
  // A million "a" in pieces of every size from 1 to 97 bytes.
  Sha256 h;
  const std::string a(97, 'a');
  std::size_t left = 1000000;
  for (std::size_t piece = 1; left > 0; piece = piece % 97 + 1) {
    const std::size_t n = std::min(piece, left);
    h.Update(std::string_view(a).substr(0, n));
    left -= n;
  }
  EXPECT_EQ(Sha256::ToHex(h.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(IntegrityMarker, EveryKeyStoresItAndItReadsBack) {
  IntegrityMarker m;
  m.checkRoutines = 3;
  m.routines = 0x1234567;
  m.sealedBytes = 0xABCDEF0123;
  for (std::size_t i = 0; i < m.digest.size(); ++i) m.digest[i] = static_cast<std::uint8_t>(i * 37 + 5);
  for (int key = 0; key < 256; ++key) {
    const auto k = static_cast<std::uint8_t>(key);
    const std::string text = FormatIntegrityMarker(m, k);
    for (const char c : text) {
      ASSERT_NE(static_cast<std::uint8_t>(c), k) << "key " << key << " would store a zero byte";
      ASSERT_TRUE(c != '@' && c != '#' && c != '\r' && c != '\n' && c != '\0') << text;
    }
    const auto back = ParseIntegrityMarker(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(back->checkRoutines, 3);
    EXPECT_EQ(back->routines, 0x1234567);
    EXPECT_EQ(back->sealedBytes, 0xABCDEF0123);
    EXPECT_EQ(back->digest, m.digest);
  }
  EXPECT_EQ(FormatIntegrityMarker(m, 1).substr(0, 20), "VMSEAL:2:3:1234567:A");
  EXPECT_EQ(FormatIntegrityMarker(m, 'A').substr(0, 20), "vmseal;i;j;hijklmn;q");

  // Other bytes after the last "@" are another packer's: ignored as ever.
  EXPECT_FALSE(ParseIntegrityMarker("").has_value());
  EXPECT_FALSE(ParseIntegrityMarker("trailing bytes").has_value());
  EXPECT_FALSE(ParseIntegrityMarker("VMSEAL").has_value());
  // Beginning like a marker but not one: damage, not silence.
  const std::string good = FormatIntegrityMarker(m, 1);
  for (const std::string& bad :
       {good.substr(0, good.size() - 1), good + "0", good + ":1", std::string("VMSEAL:3:0:0:0:") + std::string(64, '0'),
        std::string("VMSEAL:1:0:x:0:") + std::string(64, '0'),
        std::string("VMSEAL:1:0:1000000000000000:0:") + std::string(64, '0')}) {
    EXPECT_THROW(ParseIntegrityMarker(bad), DamagedFileError) << bad;
  }
}

// A sealed data file built by hand: the marker over every byte but its own
// (version 2), or over the bytes after the post-action list record (1).
class SealedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("integrity-test-" + std::to_string(::getpid()) + "-" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    path_ = dir_ / "dorpack.dat";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // With a check label: 2 check routines and `routines` routines.
  std::string Build(std::uint8_t key, int routines, bool checkLabel = true, int version = kSealsWholeFile) {
    DataFileImage sealed(key);
    if (checkLabel) sealed.Routine("CHK1", {"c() q \"\""}).Routine("CHK2", {" q"});
    sealed.Record("");
    if (!checkLabel) sealed.Record("");
    for (int i = 0; i < routines; ++i) sealed.Routine("R" + std::to_string(i), {std::string(700, 'x'), " q"});
    const std::string sealedBytes = sealed.Bytes().substr(2);
    DataFileImage head(key);
    head.Header("P", "v", "b").Record("pw").Record(checkLabel ? "c^CHK1" : "").Encoded("one#a^B@");
    const std::string prefix = head.Bytes();
    const std::string rest = std::string(1, static_cast<char>(EncodeByte(13, key))) + sealedBytes;
    IntegrityMarker m;
    m.version = version;
    m.checkRoutines = checkLabel ? 2 : 0;
    m.routines = routines;
    const std::string covered = version == kSealsWholeFile ? prefix + rest : sealedBytes;
    m.sealedBytes = static_cast<std::int64_t>(covered.size());
    Sha256 h;
    h.Update(covered);
    m.digest = h.Final();
    std::string marker = FormatIntegrityMarker(m, key);
    for (char& c : marker) c = static_cast<char>(EncodeByte(static_cast<std::uint8_t>(c), key));
    markerAt_ = prefix.size();
    sealedFrom_ = prefix.size() + marker.size() + 1;
    return prefix + marker + rest;
  }

  void Write(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  // ReadHeader's answer; the log's failure line in `why`.
  bool Header(std::string& why) {
    DistributionReader r(path_);
    Distribution d;
    InstallLog log;
    const bool ok = r.ReadHeader(d, log);
    why = Cp1251ToUtf8(log.Lines().back());
    if (ok) sealed_ = r.Integrity().has_value();
    return ok;
  }

  std::filesystem::path dir_, path_;
  std::size_t sealedFrom_ = 0, markerAt_ = 0;
  bool sealed_ = false;
};

TEST_F(SealedFileTest, ASoundFileIsVerifiedAndReadAsBefore) {
  for (const int key : {0, 1, int{'V'}, int{'v'}, 200, 255}) {
    for (const bool label : {true, false}) {
      Write(Build(static_cast<std::uint8_t>(key), 40, label));
      DistributionReader r(path_);
      Distribution d;
      InstallLog log;
      ASSERT_TRUE(r.ReadHeader(d, log)) << key << ": " << Cp1251ToUtf8(log.Lines().back());
      ASSERT_TRUE(r.Integrity().has_value());
      EXPECT_EQ(r.Integrity()->routines, 40);
      // The read-ahead left the reader where it was: the check stage reads
      // the label and the one post-action, the marker is ignored.
      DistributionReader::Section s(r);
      EXPECT_EQ(ShiftText(r.ReadField(r.RecordSeparator()), d.KeyByte), label ? "c^CHK1" : "");
      r.ReadRecord();
      ASSERT_TRUE(r.ParsePostActionList(d));
      EXPECT_EQ(d.PostActionLabels, std::vector<std::string>{"a^B"});
      r.ReadRecord();
      EXPECT_EQ(r.DecodeRoutineLines(r.Record()).empty(), !label);
      while (!r.Record().empty()) r.ReadRecord();
      if (!label) r.ReadRecord();
      s.Finish();
      // The routines lie beyond the first chunk.
      DistributionReader::Section routines(r);
      r.ReadRecord();
      r.MarkResume();
      EXPECT_EQ(r.CountRecords(), 40);
      r.SeekResume();
      EXPECT_EQ(r.DecodeRoutineLines(r.Record()).front(), "R0");
    }
  }
}

TEST_F(SealedFileTest, ACutFileIsRefusedAtEveryOffset) {
  const std::string whole = Build(7, 12);
  std::string why;
  for (std::size_t size = sealedFrom_; size < whole.size(); size += 97) {
    Write(whole.substr(0, size));
    ASSERT_FALSE(Header(why)) << size;
    EXPECT_NE(why.find("Ошибка GUI приложения: файл обрывается на смещении " + std::to_string(size) + " из " +
                       std::to_string(whole.size()) + " байт"),
              std::string::npos)
        << why;
  }
  // Cut after the fifth routine's separator: the count says how much is left.
  // Two check routines, the empty record, then five routines: 8 separators.
  std::size_t at = sealedFrom_;
  for (int separators = 0; separators < 8; ++at) separators += whole[at] == static_cast<char>(EncodeByte(13, 7));
  Write(whole.substr(0, at));
  ASSERT_FALSE(Header(why));
  EXPECT_NE(why.find("целы программ 5 из 12 и программ проверки 2 из 2"), std::string::npos) << why;
  Write(whole);
  ASSERT_TRUE(Header(why)) << why;
  EXPECT_TRUE(sealed_);
}

TEST_F(SealedFileTest, AChangedFileIsRefused) {
  const std::string whole = Build(7, 12);
  std::string why;
  std::string changed = whole;
  changed[changed.size() - 100] = static_cast<char>(changed[changed.size() - 100] + 1);
  Write(changed);
  ASSERT_FALSE(Header(why));
  EXPECT_NE(why.find("содержимое изменено после упаковки: его сумма SHA-256 не совпадает"), std::string::npos) << why;

  Write(whole + "more");
  ASSERT_FALSE(Header(why));
  EXPECT_NE(why.find("на 4 байт больше упакованного"), std::string::npos) << why;

  // A routine's record separator turned into a line end: one routine fewer.
  changed = whole;
  const auto sep = changed.rfind(static_cast<char>(EncodeByte(13, 7)), changed.size() - 2);
  changed[sep] = static_cast<char>(EncodeByte(10, 7));
  Write(changed);
  ASSERT_FALSE(Header(why));
  EXPECT_NE(why.find("программ 11 из 12, программ проверки 2 из 2"), std::string::npos) << why;

  // A marker damaged in its digest cannot be read.
  changed = whole;
  changed[sealedFrom_ - 3] = static_cast<char>(EncodeByte('z', 7));
  Write(changed);
  ASSERT_FALSE(Header(why));
  EXPECT_NE(why.find("отметка целостности не читается (неверная сумма SHA-256)"), std::string::npos) << why;
}

// The marker covers every byte but its own: the key byte, the header, the
// password, the check label and the post-action list are sealed too.
TEST_F(SealedFileTest, EveryByteOutsideTheMarkerIsSealed) {
  const std::string whole = Build(7, 3);
  struct Change {
    const char* what;
    std::size_t offset;
    int delta;
  };
  const std::size_t label = whole.find(static_cast<char>(EncodeByte('C', 7)));
  const std::size_t postAction = whole.find(static_cast<char>(EncodeByte('B', 7)), markerAt_ - 4);
  for (const Change& c : {Change{"key byte", 1, 1}, Change{"product", 2, 1}, Change{"build date", 6, 1},
                          Change{"password", 8, 1}, Change{"check label", label, 1},
                          Change{"post-action label", postAction, 7},
                          // Without these the file would look unsealed.
                          Change{"the marker's opening", markerAt_, 1}, Change{"the \"@\" before it", markerAt_ - 1, 1}}) {
    std::string changed = whole;
    changed[c.offset] = static_cast<char>(changed[c.offset] + c.delta);
    Write(changed);
    std::string why;
    EXPECT_FALSE(Header(why)) << c.what;
    EXPECT_NE(why.find("Ошибка GUI приложения: "), std::string::npos) << c.what << ": " << why;
  }
  Write(whole);
  std::string why;
  ASSERT_TRUE(Header(why)) << why;
}

// Files of earlier packers: a version 1 marker is still verified, and a file
// without a marker is read; the log says what was not checked.
TEST_F(SealedFileTest, OlderMarkersAndNoMarkerAreReadAndSaySo) {
  std::string why;
  Write(Build(7, 3, true, kSealsRoutinesOnly));
  ASSERT_TRUE(Header(why)) << why;
  EXPECT_TRUE(sealed_);
  EXPECT_EQ(why, "Отметка целостности файла данных старой версии: проверены только программы проверки и программы, "
                 "но не заголовок, пароль, метка проверки и список последействий.");

  DataFileImage plain(7);
  plain.Header("P", "v", "b").Record("pw").Record("").Record("one#a^B@").Record("").Record("").Routine("R", {" q"});
  Write(plain.Bytes());
  ASSERT_TRUE(Header(why)) << why;
  EXPECT_FALSE(sealed_);
  EXPECT_EQ(why, "Целостность файла данных не проверена: в нём нет отметки целостности.");
}

}  // namespace
}  // namespace dorvik
