#include "installation_read.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "distribution/funcs.h"
#include "distribution/reader.h"

namespace reader_bench {

namespace {

void HandleRecord(const dorvik::DistributionReader& reader, RecordHandling handling, std::string& decoded,
                  std::vector<std::string>& lines, ReadTotals& totals) {
  const std::string& record = reader.Record();
  switch (handling) {
    case RecordHandling::kDecodeRoutineLines: {
      reader.DecodeRoutineLines(record, lines);
      totals.lines += static_cast<std::int64_t>(lines.size());
      for (const auto& line : lines) totals.bytes += static_cast<std::int64_t>(line.size());
      break;
    }
    case RecordHandling::kReadOnly:
      totals.bytes += static_cast<std::int64_t>(record.size());
      break;
    case RecordHandling::kDecodeWholeRecord: {
      // The encoded line separator decodes to exactly the plain line feed.
      decoded = dorvik::ShiftText(record, reader.KeyByte());
      std::string_view rest(decoded);
      for (auto end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
        ++totals.lines;
        totals.bytes += static_cast<std::int64_t>(end);
        rest.remove_prefix(end + 1);
      }
      break;
    }
  }
}

void DecodeRecords(dorvik::DistributionReader& reader, RecordHandling handling, ReadTotals& totals) {
  reader.MarkResume();
  totals.routines += reader.CountRecords();
  reader.SeekResume();
  std::string decoded;
  std::vector<std::string> lines;
  while (!reader.Record().empty()) {
    HandleRecord(reader, handling, decoded, lines, totals);
    reader.ReadRecord();
  }
}

}  // namespace

ReadTotals ReadAsInstallation(const std::filesystem::path& file) {
  return ReadAsInstallation(file, RecordHandling::kDecodeRoutineLines);
}

ReadTotals ReadAsInstallation(const std::filesystem::path& file, RecordHandling handling) {
  dorvik::DistributionReader reader(file);
  dorvik::Distribution dist;
  dorvik::InstallLog log;
  if (!reader.ReadHeader(dist, log)) throw std::runtime_error("cannot read the header of " + file.string());
  ReadTotals totals;
  {
    dorvik::DistributionReader::Section section(reader);
    const std::string label = reader.ReadField(reader.RecordSeparator());
    reader.ReadRecord();
    if (!reader.ParsePostActionList(dist)) throw std::runtime_error("bad post-action list");
    dist.CheckLabel = dorvik::ShiftText(label, dist.KeyByte);
    reader.ReadRecord();
    if (dist.CheckLabel.empty()) {
      reader.ReadRecord();
    } else {
      DecodeRecords(reader, handling, totals);
    }
    section.Finish();
  }
  {
    dorvik::DistributionReader::Section section(reader);
    reader.ReadRecord();
    DecodeRecords(reader, handling, totals);
    section.Finish();
  }
  return totals;
}

ReadTotals ReadPlain(const std::filesystem::path& file) {
  std::FILE* f = std::fopen(file.string().c_str(), "rb");
  if (f == nullptr) throw std::runtime_error("cannot open " + file.string());
  std::setvbuf(f, nullptr, _IONBF, 0);
  std::vector<unsigned char> chunk(10240);
  ReadTotals totals;
  std::uint64_t sum = 0;
  std::size_t n = 0;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
    for (std::size_t i = 0; i < n; ++i) sum += chunk[i];
    totals.bytes += static_cast<std::int64_t>(n);
  }
  std::fclose(f);
  totals.lines = static_cast<std::int64_t>(sum & 1);
  return totals;
}

}  // namespace reader_bench
