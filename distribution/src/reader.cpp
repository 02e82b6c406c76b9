#include "distribution/reader.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "distribution/codepage.h"
#include "distribution/damage_texts.h"
#include "distribution/funcs.h"

namespace dorvik {

namespace {

int SeekFile(std::FILE* f, std::int64_t position) {
#ifdef _WIN32
  return _fseeki64(f, position, SEEK_SET);
#else
  return fseeko(f, static_cast<off_t>(position), SEEK_SET);
#endif
}

std::int64_t TellFile(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return static_cast<std::int64_t>(ftello(f));
#endif
}

[[noreturn]] void ThrowIo(const std::filesystem::path& path, const char* what) {
  throw std::system_error(errno, std::generic_category(), std::string(what) + " " + path.string());
}

}  // namespace

DistributionReader::DistributionReader(std::filesystem::path dataFile) : path_(std::move(dataFile)) {
  chunk_.bytes.assign(kChunkSize + 1, '\0');
}

DistributionReader::~DistributionReader() { Close(); }

void DistributionReader::Open() {
  Close();
  file_ = std::fopen(path_.string().c_str(), "rb");
  if (file_ == nullptr) ThrowIo(path_, "cannot open");
  // Reads go straight to the chunk buffer; a second buffer would only copy.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  std::error_code ec;
  const auto size = std::filesystem::file_size(path_, ec);
  if (ec) {
    Close();
    throw std::system_error(ec, "cannot stat " + path_.string());
  }
  fileSize_ = static_cast<std::int64_t>(size);
}

void DistributionReader::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

std::int64_t DistributionReader::Tell() {
  const std::int64_t at = TellFile(file_);
  if (at < 0) ThrowIo(path_, "cannot read the position of");
  return at;
}

void DistributionReader::Seek(std::int64_t position) {
  if (SeekFile(file_, position) != 0) ThrowIo(path_, "cannot position");
}

bool DistributionReader::AtEnd() { return Tell() >= fileSize_; }

void DistributionReader::Fill(Chunk& chunk) {
  const std::size_t n = std::fread(chunk.bytes.data(), 1, kChunkSize, file_);
  if (n < kChunkSize && std::ferror(file_)) ThrowIo(path_, "cannot read");
  chunk.bytes[n] = '\0';
  chunk.size = n;
  chunk.cursor = 0;
  chunk.loaded = true;
}

void DistributionReader::NoteDamage(const std::string& why) const {
  if (damage_.empty()) damage_ = why;
}

void DistributionReader::Damaged(const std::string& why) const {
  NoteDamage(why);
  throw DamagedFileError(why);
}

void DistributionReader::ThrowOversize() const { Damaged(damage::Oversize(kMaxRecordSize)); }

void DistributionReader::ThrowCut() const { Damaged(damage::Cut(fileSize_)); }

void DistributionReader::Append(std::string& out, const char* from, std::size_t n) const {
  if (out.size() + n > kMaxRecordSize) ThrowOversize();
  out.append(from, n);
}

std::int64_t DistributionReader::Offset(const Chunk& chunk) {
  if (!chunk.loaded) return Tell();
  return Tell() - static_cast<std::int64_t>(chunk.size) + static_cast<std::int64_t>(chunk.cursor);
}

DistributionReader::ScanEnd DistributionReader::Scan(Chunk& chunk, std::uint8_t separator, std::string* out,
                                                     bool* sawBytes) {
  if (sawBytes != nullptr) *sawBytes = false;
  std::size_t taken = 0;  // bytes of this field seen so far
  while (true) {
    if (chunk.loaded) {
      const char* begin = chunk.bytes.data() + chunk.cursor;
      const std::size_t left = chunk.size - chunk.cursor;
      const void* hit = std::memchr(begin, static_cast<char>(separator), left);
      const std::size_t span = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - begin) : left;
      // A zero byte cannot be part of the format: the file is damaged.
      if (const void* zero = std::memchr(begin, '\0', span)) {
        const auto offset =
            Tell() - static_cast<std::int64_t>(chunk.size) + (static_cast<const char*>(zero) - chunk.bytes.data());
        Damaged(damage::ZeroByte(offset));
      }
      if (hit == nullptr && AtEnd()) {
        // The end of the file inside the field: nothing of the last chunk
        // is taken, and whatever was pending is a cut field.
        return taken + span > 0 ? ScanEnd::kCut : ScanEnd::kEndOfFile;
      }
      if (out != nullptr) Append(*out, begin, span);
      taken += span;
      if (taken > kMaxRecordSize) ThrowOversize();
      if (sawBytes != nullptr && span > 0) *sawBytes = true;
      if (hit != nullptr) {
        chunk.cursor += span + 1;
        return ScanEnd::kSeparator;
      }
    }
    if (AtEnd()) return taken > 0 ? ScanEnd::kCut : ScanEnd::kEndOfFile;
    Fill(chunk);
  }
}

bool DistributionReader::ScanWhole(Chunk& chunk, std::uint8_t separator, std::string* out, bool* sawBytes) {
  const ScanEnd end = Scan(chunk, separator, out, sawBytes);
  if (end == ScanEnd::kCut) ThrowCut();
  return end == ScanEnd::kSeparator;
}

std::string DistributionReader::ReadField(std::uint8_t separator) {
  std::string field;
  ScanWhole(chunk_, separator, &field, nullptr);
  return field;
}

const std::string& DistributionReader::ReadRecord() {
  record_.clear();
  ScanWhole(chunk_, recordSep_, &record_, nullptr);
  return record_;
}

const std::string& DistributionReader::ReadRequiredRecord(std::string_view what) {
  record_.clear();
  const std::int64_t at = Offset(chunk_);
  if (!ScanWhole(chunk_, recordSep_, &record_, nullptr)) Damaged(damage::EndsBefore(at, what));
  return record_;
}

std::int64_t DistributionReader::CountRecords() {
  Chunk chunk = chunk_;
  std::int64_t count = 0;
  bool nonEmpty = !record_.empty();
  while (nonEmpty) {
    ++count;
    ScanWhole(chunk, recordSep_, nullptr, &nonEmpty);
  }
  return count;
}

void DistributionReader::MarkResume() { resume_ = Tell(); }
void DistributionReader::SeekResume() { Seek(resume_); }

DistributionReader::Section::Section(DistributionReader& reader) : reader_(reader) {
  reader_.Open();
  try {
    reader_.Seek(reader_.resume_);
  } catch (...) {
    reader_.Close();
    throw;
  }
}

DistributionReader::Section::~Section() { reader_.Close(); }

void DistributionReader::Section::Finish() { reader_.MarkResume(); }

bool DistributionReader::ReadHeader(Distribution& dist, InstallLog& log) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path_, ec)) return false;
  try {
    Open();
    struct Closer {
      DistributionReader& r;
      ~Closer() { r.Close(); }
    } closer{*this};
    Seek(1);
    unsigned char key = 0;
    if (std::fread(&key, 1, 1, file_) == 1) key_ = key;
    dist.KeyByte = key_;
    chunk_.loaded = false;

    static const std::string kProduct = Ru("Продукт: ");
    static const std::string kVersion = Ru("Версия: ");
    static const std::string kBuildDate = Ru("Дата сборки: ");
    // The three lines are logged even when the header is cut.
    std::string product, version, buildDate;
    ScanEnd ends[3];
    ends[0] = Scan(chunk_, 13, &product, nullptr);
    dist.ProductName = Cp866ToCp1251(product);
    log.Add(kProduct + dist.ProductName);
    ends[1] = Scan(chunk_, 13, &version, nullptr);
    dist.Version = std::move(version);
    log.Add(kVersion + dist.Version);
    ends[2] = Scan(chunk_, 13, &buildDate, nullptr);
    dist.BuildDate = std::move(buildDate);
    log.Add(kBuildDate + dist.BuildDate);
    log.Add("");
    // Each field's offset: byte 0 unused, byte 1 the key, then the fields.
    const std::int64_t fieldOffsets[] = {2, 3 + static_cast<std::int64_t>(product.size()),
                                         4 + static_cast<std::int64_t>(product.size() + dist.Version.size())};
    const std::string_view fieldNames[] = {"название продукта", "версия", "дата сборки"};
    const std::string* fields[] = {&dist.ProductName, &dist.Version, &dist.BuildDate};
    for (std::size_t i = 0; i < 3; ++i) {
      if (ends[i] != ScanEnd::kSeparator) Damaged(damage::FieldCut(fileSize_, fieldNames[i]));
      if (fields[i]->empty()) Damaged(damage::EmptyHeaderField(fieldNames[i], fieldOffsets[i]));
    }

    recordSep_ = EncodeByte(13, key_);
    lineSep_ = EncodeByte(10, key_);
    itemSep_ = EncodeByte(64, key_);
    pairSep_ = EncodeByte(35, key_);

    const std::int64_t passwordAt = Offset(chunk_);
    bodyStart_ = passwordAt;
    std::string password;
    if (Scan(chunk_, recordSep_, &password, nullptr) != ScanEnd::kSeparator) {
      Damaged(damage::FieldCut(fileSize_, damage::kPassword));
    }
    dist.SourcePassword = Cp866ToCp1251(ShiftText(password, key_));
    if (dist.SourcePassword.empty()) Damaged(damage::NoPassword(passwordAt));
    resume_ = Tell();
    // Reads on from a copy of the chunk; the next stage seeks back to resume_.
    if (const std::string unchecked = VerifyIntegrity(); !unchecked.empty()) log.Add(unchecked);
    return true;
  } catch (const std::exception& e) {
    log.Add(AppFailureLine(e.what()));
    return false;
  }
}

bool DistributionReader::ParsePostActionList(Distribution& dist) const {
  std::string_view rest(record_);
  const char item = static_cast<char>(itemSep_);
  const char pair = static_cast<char>(pairSep_);
  for (auto end = rest.find(item); end != std::string_view::npos; end = rest.find(item)) {
    const std::string_view entry = rest.substr(0, end);
    const auto split = entry.find(pair);
    if (split == std::string_view::npos) return false;
    dist.PostActionDescriptions.push_back(Cp866ToCp1251(ShiftText(entry.substr(0, split), key_)));
    dist.PostActionLabels.push_back(ShiftText(entry.substr(split + 1), key_));
    rest.remove_prefix(end + 1);
  }
  return true;
}

std::vector<std::string> DistributionReader::DecodeRoutineLines(std::string_view record) const {
  std::vector<std::string> lines;
  DecodeRoutineLines(record, lines);
  return lines;
}

void DistributionReader::DecodeRoutineLines(std::string_view record, std::vector<std::string>& lines) const {
  const char sep = static_cast<char>(lineSep_);
  const auto k = key_;
  std::size_t count = 0;
  for (auto end = record.find(sep); end != std::string_view::npos; end = record.find(sep)) {
    if (count == lines.size()) lines.emplace_back();
    std::string& line = lines[count++];
    line.resize(end);
    // ShiftText in place, without a temporary per line.
    for (std::size_t i = 0; i < end; ++i)
      line[i] = static_cast<char>(ShiftByte(static_cast<std::uint8_t>(record[i]), k));
    record.remove_prefix(end + 1);
  }
  lines.resize(count);
  if (count > 0 && !record.empty()) {
    Damaged(damage::LineCutOff(lines.front(), record.size()));
  }
}

bool DistributionReader::IsLibraryDistribution(bool detectLibrary) {
  if (!detectLibrary) return false;
  Open();
  struct Closer {
    DistributionReader& r;
    ~Closer() { r.Close(); }
  } closer{*this};
  Seek(resume_);
  Chunk chunk = chunk_;
  bool nonEmpty = false;
  // The check label, then the post-action list.
  std::string label;
  ScanWhole(chunk, recordSep_, &label, nullptr);
  ScanWhole(chunk, recordSep_, nullptr, &nonEmpty);
  if (label.empty()) {
    // The empty check-routine record and the record that follows it.
    ScanWhole(chunk, recordSep_, nullptr, &nonEmpty);
    ScanWhole(chunk, recordSep_, nullptr, &nonEmpty);
  } else {
    // Over the check routines up to and including their empty record.
    do {
      ScanWhole(chunk, recordSep_, nullptr, &nonEmpty);
    } while (nonEmpty);
  }
  // The first routine of the distribution: its name line decides.
  std::string routine;
  ScanWhole(chunk, recordSep_, &routine, nullptr);
  const auto end = routine.find(static_cast<char>(lineSep_));
  if (end == std::string::npos) return false;
  return ShiftText(std::string_view(routine).substr(0, end), key_).find('%') != std::string::npos;
}

}  // namespace dorvik
