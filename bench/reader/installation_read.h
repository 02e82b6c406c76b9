// The two ways of reading a distribution that the benchmark compares.
#pragma once

#include <cstdint>
#include <filesystem>

namespace reader_bench {

struct ReadTotals {
  std::int64_t routines = 0;
  std::int64_t lines = 0;
  std::int64_t bytes = 0;
};

// Reads the file as an installation does: the header, the check section
// (label, post-actions, counted and decoded check routines) and the routine
// section (counted, then every record read and split into decoded lines).
ReadTotals ReadAsInstallation(const std::filesystem::path& file);

// Variants of the routine handling that separate the costs: records read but
// not decoded; each record decoded at once and split into views of its lines
// (what a decoder that reuses its buffers would cost).
enum class RecordHandling { kDecodeRoutineLines, kReadOnly, kDecodeWholeRecord };
ReadTotals ReadAsInstallation(const std::filesystem::path& file, RecordHandling handling);

// Reads the file from start to end in 10240-byte pieces, the reader's chunk
// size, and touches every byte.
ReadTotals ReadPlain(const std::filesystem::path& file);

}  // namespace reader_bench
