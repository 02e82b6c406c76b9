// libFuzzer target: the input is a data file, read in the order and through
// the reader calls of an installation (header and integrity marker, library
// test, check section, routine section with their counts, every routine
// record split into lines). Any input must end in a result or a
// DamagedFileError, never in a crash, a hang or another exception; and a
// routine section the reader accepted must hold as many records as counted.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "distribution/funcs.h"
#include "distribution/reader.h"

namespace {

using dorvik::DistributionReader;

const std::filesystem::path& DataFile() {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("fuzz-data-file-" + std::to_string(::getpid()) + ".dat");
  return path;
}

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_data_file: %s\n", what);
    std::abort();
  }
}

// Reads records up to the empty one, as the stages do: counted first, then
// each split into lines.
void ReadRoutines(DistributionReader& r) {
  r.MarkResume();
  const std::int64_t counted = r.CountRecords();
  r.SeekResume();
  std::int64_t read = 0;
  std::vector<std::string> lines;
  while (!r.Record().empty()) {
    ++read;
    r.DecodeRoutineLines(r.Record(), lines);
    r.ReadRecord();
  }
  Require(read == counted, "the count differs from the records read");
}

void Install(DistributionReader& r) {
  dorvik::Distribution d;
  dorvik::InstallLog log;
  if (!r.ReadHeader(d, log)) return;
  r.IsLibraryDistribution(true);
  {
    DistributionReader::Section section(r);
    d.CheckLabel = r.ReadField(r.RecordSeparator());
    r.ReadRecord();
    if (!r.ParsePostActionList(d)) return;
    Require(d.PostActionDescriptions.size() == d.PostActionLabels.size(), "post-action lists differ in length");
    d.CheckLabel = dorvik::ShiftText(d.CheckLabel, d.KeyByte);
    r.ReadRecord();
    if (d.CheckLabel.empty()) {
      if (!r.Record().empty()) return;
      r.ReadRecord();
    } else {
      if (r.Record().empty()) return;
      ReadRoutines(r);
    }
    section.Finish();
  }
  DistributionReader::Section section(r);
  r.ReadRecord();
  ReadRoutines(r);
  section.Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::FILE* f = std::fopen(DataFile().c_str(), "wb");
    Require(f != nullptr, "cannot write the data file");
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  DistributionReader reader(DataFile());
  try {
    Install(reader);
  } catch (const dorvik::DamagedFileError&) {
    Require(!reader.Damage().empty(), "damage thrown but not noted");
  }
  return 0;
}
