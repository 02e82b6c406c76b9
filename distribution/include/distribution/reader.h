// The distribution data file (dorpack.dat) and its streaming reader.
//
// Layout: byte 0 unused; byte 1 the key; then three header fields (product,
// version, build date) each ended by a plain byte 13; then the scrambled
// body: records ended by an encoded 13. Inside records, routine lines end with
// an encoded 10, post-action items with an encoded "@" and the description
// inside an item with an encoded "#". A plain byte p is stored as p - key
// (plus 255 when negative).
//
// Body sections in file order: the source password, the check label, the
// post-action list, the check routines (ended by an empty record; without a
// check label the empty record is followed by one more record that is read
// and ignored), and the distribution's routines up to an empty record or the
// end of the file.
//
// The reader keeps one 10240-byte chunk and one record in memory whatever the
// size of the file. Each stage opens the file anew with a Section, which
// seeks to ResumePosition and continues from the chunk left in memory.
//
// Nothing is dropped in silence: a field or record that the end of the file
// cuts off before its separator, and routine text after a routine's last
// line end, are damage (DamagedFileError), as is a zero byte. A file that
// carries an integrity marker (integrity_marker.h) is checked against it
// when the header is read, before anything of it is installed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "distribution/install_log.h"
#include "distribution/integrity_marker.h"

namespace dorvik {

struct Distribution {
  std::string ProductName;  // code page 1251
  std::string Version;
  std::string BuildDate;
  std::uint8_t KeyByte = 0;
  std::string SourcePassword;                       // code page 1251
  std::string CheckLabel;                           // an M label reference, as stored
  std::vector<std::string> PostActionDescriptions;  // code page 1251
  std::vector<std::string> PostActionLabels;
};

// The data file cannot be read as a distribution: the message says why.
class DamagedFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class DistributionReader {
 public:
  static constexpr std::size_t kChunkSize = 10240;
  // The largest record the reader accepts; a longer one means a damaged file.
  static constexpr std::size_t kMaxRecordSize = 64u << 20;

  explicit DistributionReader(std::filesystem::path dataFile);
  ~DistributionReader();
  DistributionReader(const DistributionReader&) = delete;
  DistributionReader& operator=(const DistributionReader&) = delete;

  const std::filesystem::path& DataFile() const { return path_; }

  // Reads the header fields and the source password into `dist`, logging the
  // product, version and build date lines, then reads ahead (leaving the
  // reader as it was) over the records every installation reads: the check
  // label, the post-action list and the check section. A file with an
  // integrity marker is checked against it (its counts and SHA-256); a file
  // whose marker covers less than the whole file, or that has none, says so
  // in the log. False when the file is missing, a field is empty, the file
  // ends before a record it must hold, is changed or cannot be read (the
  // reason, also in Damage(), is logged as "Ошибка GUI приложения: " +
  // message).
  bool ReadHeader(Distribution& dist, InstallLog& log);

  // The marker ReadHeader verified; nothing for a file without one.
  const std::optional<IntegrityMarker>& Integrity() const { return integrity_; }

  // The first damage found in the file, by the reader (every DamagedFileError
  // it throws) or noted by a stage that reads it; empty while none. Lets a
  // caller tell a damaged file from other failures after a stage failed.
  const std::string& Damage() const { return damage_; }
  void NoteDamage(const std::string& why) const;

  // One stage's access to the body: opens the data file and positions it at
  // ResumePosition. Finish() stores the file position as the new
  // ResumePosition; the file is closed on every path out.
  class Section {
   public:
    explicit Section(DistributionReader& reader);
    ~Section();
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;
    void Finish();

   private:
    DistributionReader& reader_;
  };

  // Inside a Section. Throw DamagedFileError (or std::system_error on an I/O
  // failure) when the file cannot be read as a distribution.
  std::string ReadField(std::uint8_t separator);
  const std::string& ReadRecord();
  // ReadRecord for a record the file must hold: the end of the file where it
  // must begin is damage naming `what` (damage_texts.h, UTF-8).
  const std::string& ReadRequiredRecord(std::string_view what);
  const std::string& Record() const { return record_; }
  // Non-empty records from the one in Record() up to the next empty record or
  // the end of the file. Moves the file position but not the reader state:
  // call MarkResume() before and SeekResume() after.
  std::int64_t CountRecords();
  void MarkResume();
  void SeekResume();

  // Splits the post-action list in Record() into the two lists of `dist`.
  // False when an item has no "#"; the items before it stay in the lists.
  bool ParsePostActionList(Distribution& dist) const;

  // The lines of a routine record, decoded; the first is the routine's name.
  // A record without any line end yields no lines; text after the last line
  // end of a record that has one is a line cut off: DamagedFileError.
  std::vector<std::string> DecodeRoutineLines(std::string_view record) const;
  // The same into `lines`, reusing its strings' storage from record to record.
  void DecodeRoutineLines(std::string_view record, std::vector<std::string>& lines) const;

  // Reads ahead, without moving the reader, to a routine record and answers
  // whether its name holds "%". False without reading when detectLibrary is off.
  bool IsLibraryDistribution(bool detectLibrary);

  std::uint8_t KeyByte() const { return key_; }
  std::uint8_t RecordSeparator() const { return recordSep_; }
  std::uint8_t LineSeparator() const { return lineSep_; }
  std::int64_t ResumePosition() const { return resume_; }

 private:
  // The chunk in memory and the position of its first unconsumed byte.
  struct Chunk {
    std::vector<char> bytes;  // kChunkSize + 1, zero after the valid bytes
    std::size_t size = 0;     // valid bytes
    std::size_t cursor = 0;
    bool loaded = false;
  };

  // How a scan ended: at its separator, at the end of the file with nothing
  // pending, or at the end of the file inside a field or record.
  enum class ScanEnd { kSeparator, kEndOfFile, kCut };

  void Open();
  void Close();
  void Fill(Chunk& chunk);
  bool AtEnd();
  std::int64_t Tell();
  void Seek(std::int64_t position);
  // Scans for `separator` from the chunk's cursor, loading chunks as needed,
  // and appends the bytes before it to `out` (when `out` is not null); the
  // separator is consumed. At the end of the file the text of the last chunk
  // is not appended.
  ScanEnd Scan(Chunk& chunk, std::uint8_t separator, std::string* out, bool* sawBytes);
  // Scan, with a cut field or record thrown as damage.
  bool ScanWhole(Chunk& chunk, std::uint8_t separator, std::string* out, bool* sawBytes);
  void Append(std::string& out, const char* from, std::size_t n) const;
  // The file offset of the chunk's cursor.
  std::int64_t Offset(const Chunk& chunk);
  [[noreturn]] void ThrowOversize() const;
  [[noreturn]] void ThrowCut() const;
  // Notes the damage and throws it.
  [[noreturn]] void Damaged(const std::string& why) const;
  // The read-ahead of ReadHeader: the records every installation reads, and
  // the marker, if any, checked against the file (integrity_check.cpp).
  // Answers the log line that says what was not checked, if anything.
  std::string VerifyIntegrity();
  // Hashes [from, end of file) but the bytes in [skipFrom, skipTo), counting
  // the records after `countFrom` (integrity_check.cpp).
  void HashAndCount(std::int64_t from, std::int64_t skipFrom, std::int64_t skipTo, std::int64_t countFrom,
                    bool hasCheckLabel, const IntegrityMarker& marker);

  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  std::int64_t fileSize_ = 0;
  std::uint8_t key_ = 0;
  std::uint8_t recordSep_ = 13, lineSep_ = 10, itemSep_ = 64, pairSep_ = 35;
  std::int64_t resume_ = 0;
  std::int64_t bodyStart_ = 0;  // the first byte after the header fields
  Chunk chunk_;
  std::string record_;
  std::optional<IntegrityMarker> integrity_;
  mutable std::string damage_;
};

}  // namespace dorvik
