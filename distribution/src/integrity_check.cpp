// The read-ahead of ReadHeader that checks a file against its integrity
// marker: one pass over the sealed part, hashing it and counting its records
// in the order the installation reads them.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#include "distribution/funcs.h"
#include "distribution/reader.h"

namespace dorvik {

namespace {

// Counts the routine records of the sealed part as the check stage and the
// restore read them: check routines up to an empty record, without a check
// label one more record that is ignored, then routines up to an empty record
// or the end of the file.
class RecordCounter {
 public:
  explicit RecordCounter(bool hasCheckLabel) : hasCheckLabel_(hasCheckLabel) {}

  void EndRecord(std::int64_t length) {
    switch (phase_) {
      case Phase::kCheck:
        if (length > 0) {
          ++checkRoutines;
        } else {
          phase_ = hasCheckLabel_ ? Phase::kRoutines : Phase::kIgnored;
        }
        break;
      case Phase::kIgnored:
        phase_ = Phase::kRoutines;
        break;
      case Phase::kRoutines:
        if (length > 0) {
          ++routines;
        } else {
          phase_ = Phase::kDone;
        }
        break;
      case Phase::kDone:
        break;
    }
  }

  std::int64_t checkRoutines = 0;
  std::int64_t routines = 0;

 private:
  enum class Phase { kCheck, kIgnored, kRoutines, kDone };
  bool hasCheckLabel_;
  Phase phase_ = Phase::kCheck;
};

std::string CountText(std::int64_t found, std::int64_t written, const char* what) {
  return std::to_string(found) + " of the " + std::to_string(written) + " " + what;
}

}  // namespace

void DistributionReader::VerifyIntegrity() {
  integrity_.reset();
  // A private copy of the chunk: the shared reader state stays as it was.
  Chunk chunk = chunk_;
  std::string label, postActions;
  ScanWhole(chunk, recordSep_, &label, nullptr);
  if (!ScanWhole(chunk, recordSep_, &postActions, nullptr)) return;  // no body: nothing sealed
  const std::int64_t sealedFrom = Offset(chunk);

  const auto lastItem = postActions.rfind(static_cast<char>(itemSep_));
  const std::string_view tail = lastItem == std::string::npos ? std::string_view(postActions)
                                                              : std::string_view(postActions).substr(lastItem + 1);
  std::optional<IntegrityMarker> marker;
  try {
    marker = ParseIntegrityMarker(ShiftText(tail, key_));
  } catch (const DamagedFileError& e) {
    Damaged(e.what());
  }
  if (!marker) return;

  Seek(sealedFrom);
  Sha256 hash;
  RecordCounter counter(!label.empty());
  std::vector<char> buffer(1u << 16);
  std::int64_t recordLength = 0;
  const char separator = static_cast<char>(recordSep_);
  while (true) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file_);
    if (n == 0) {
      if (std::ferror(file_)) throw std::system_error(errno, std::generic_category(), "cannot read " + path_.string());
      break;
    }
    hash.Update(std::string_view(buffer.data(), n));
    const char* p = buffer.data();
    const char* end = p + n;
    while (const void* hit = std::memchr(p, separator, static_cast<std::size_t>(end - p))) {
      const char* at = static_cast<const char*>(hit);
      counter.EndRecord(recordLength + (at - p));
      recordLength = 0;
      p = at + 1;
    }
    recordLength += end - p;
  }

  const std::int64_t sealedBytes = fileSize_ - sealedFrom;
  const std::string counts = CountText(counter.routines, marker->routines, "routines") + " and " +
                             CountText(counter.checkRoutines, marker->checkRoutines, "check routines") + " are whole";
  if (sealedBytes < marker->sealedBytes) {
    Damaged("the file is cut at offset " + std::to_string(fileSize_) + " of " +
            std::to_string(sealedFrom + marker->sealedBytes) + " bytes: " + counts + " (" + path_.string() + ")");
  }
  if (counter.routines != marker->routines || counter.checkRoutines != marker->checkRoutines) {
    Damaged("routine count " + std::to_string(counter.routines) + " of " + std::to_string(marker->routines) +
            ", check routine count " + std::to_string(counter.checkRoutines) + " of " +
            std::to_string(marker->checkRoutines) + ": the content changed after packing (" + path_.string() + ")");
  }
  if (sealedBytes != marker->sealedBytes) {
    Damaged("the content changed after packing: " + std::to_string(sealedBytes - marker->sealedBytes) +
            " bytes more than were packed (" + path_.string() + ")");
  }
  if (hash.Final() != marker->digest) {
    Damaged("the content changed after packing: its SHA-256 differs from the integrity marker's (" + path_.string() +
            ")");
  }
  integrity_ = marker;
}

}  // namespace dorvik
