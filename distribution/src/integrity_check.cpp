// The read-ahead of ReadHeader: the records every installation reads must be
// there, and a file with an integrity marker is checked against it in one
// pass, hashing what the marker covers and counting the records in the order
// the installation reads them.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#include "distribution/codepage.h"
#include "distribution/damage_texts.h"
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

// Whether `bytes` hold a marker's opening ("VMSEAL:" or "vmseal;") stored
// with a key other than `key`: the key byte of a sealed file was changed, so
// that its marker no longer reads. One pass; each byte fixes the one key
// under which it could open a marker.
bool HoldsMarkerUnderAnotherKey(std::string_view bytes, std::uint8_t key) {
  for (const std::string_view opening : {std::string_view("VMSEAL:"), std::string_view("vmseal;")}) {
    std::array<std::array<char, 7>, 256> stored{};
    std::array<std::vector<std::uint8_t>, 256> keysFor;
    for (int k = 0; k < 256; ++k) {
      for (std::size_t j = 0; j < opening.size(); ++j) {
        stored[k][j] =
            static_cast<char>(EncodeByte(static_cast<std::uint8_t>(opening[j]), static_cast<std::uint8_t>(k)));
      }
      if (k != key) keysFor[static_cast<std::uint8_t>(stored[k][0])].push_back(static_cast<std::uint8_t>(k));
    }
    for (std::size_t i = 0; i + opening.size() <= bytes.size(); ++i) {
      for (const std::uint8_t k : keysFor[static_cast<std::uint8_t>(bytes[i])]) {
        if (std::memcmp(bytes.data() + i, stored[k].data(), opening.size()) == 0) return true;
      }
    }
  }
  return false;
}

}  // namespace

std::string DistributionReader::VerifyIntegrity() {
  integrity_.reset();
  // A private copy of the chunk: the shared reader state stays as it was.
  Chunk chunk = chunk_;
  std::string label, postActions;
  auto required = [&](std::string* out, std::string_view what) {
    const std::int64_t at = Offset(chunk);
    if (!ScanWhole(chunk, recordSep_, out, nullptr)) Damaged(damage::EndsBefore(at, what));
  };
  required(&label, damage::kCheckLabel);
  const std::int64_t postActionsAt = Offset(chunk);
  required(&postActions, damage::kPostActionList);
  const std::int64_t sealedFrom = Offset(chunk);

  const auto lastItem = postActions.rfind(static_cast<char>(itemSep_));
  const std::size_t tailAt = lastItem == std::string::npos ? 0 : lastItem + 1;
  const std::string_view tail = std::string_view(postActions).substr(tailAt);
  std::optional<IntegrityMarker> marker;
  try {
    marker = ParseIntegrityMarker(ShiftText(tail, key_));
  } catch (const DamagedFileError& e) {
    Damaged(e.what());
  }

  if (!marker) {
    // The marker lies early in the file, in the post-action list record.
    constexpr std::int64_t kMarkerSearch = 1 << 20;
    const std::int64_t searched = std::min(fileSize_ - bodyStart_, kMarkerSearch);
    if (searched > 0) {
      std::string head(static_cast<std::size_t>(searched), '\0');
      const std::int64_t chunkEnd = Tell();  // where the private chunk goes on reading
      Seek(bodyStart_);
      const std::size_t n = std::fread(head.data(), 1, head.size(), file_);
      head.resize(n);
      Seek(chunkEnd);
      if (HoldsMarkerUnderAnotherKey(head, key_)) Damaged(damage::KeyChanged());
    }
    // Nothing to compare with: the check section must at least be whole, so
    // that a file cut before it is never taken for an empty distribution.
    bool nonEmpty = false;
    do {
      const std::int64_t at = Offset(chunk);
      if (!ScanWhole(chunk, recordSep_, nullptr, &nonEmpty)) Damaged(damage::EndsBefore(at, damage::kCheckRoutine));
    } while (nonEmpty);
    if (label.empty()) required(nullptr, damage::kIgnoredRecord);
    return Ru("Целостность файла данных не проверена: в нём нет отметки целостности.");
  }

  if (marker->version == kSealsRoutinesOnly) {
    HashAndCount(sealedFrom, sealedFrom, sealedFrom, sealedFrom, !label.empty(), *marker);
    integrity_ = marker;
    return Ru("Отметка целостности файла данных старой версии: проверены только программы проверки и программы, "
              "но не заголовок, пароль, метка проверки и список последействий.");
  }
  const std::int64_t markerAt = postActionsAt + static_cast<std::int64_t>(tailAt);
  HashAndCount(0, markerAt, markerAt + static_cast<std::int64_t>(tail.size()), sealedFrom, !label.empty(), *marker);
  integrity_ = marker;
  return {};
}

void DistributionReader::HashAndCount(std::int64_t from, std::int64_t skipFrom, std::int64_t skipTo,
                                      std::int64_t countFrom, bool hasCheckLabel, const IntegrityMarker& marker) {
  Seek(from);
  Sha256 hash;
  RecordCounter counter(hasCheckLabel);
  std::vector<char> buffer(1u << 16);
  std::int64_t recordLength = 0;
  std::int64_t hashed = 0;
  const char separator = static_cast<char>(recordSep_);
  for (std::int64_t at = from;;) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file_);
    if (n == 0) {
      if (std::ferror(file_)) throw std::system_error(errno, std::generic_category(), "cannot read " + path_.string());
      break;
    }
    const std::int64_t end = at + static_cast<std::int64_t>(n);
    // The bytes of this piece outside the marker.
    auto hashPart = [&](std::int64_t a, std::int64_t b) {
      a = std::max(a, at);
      b = std::min(b, end);
      if (a >= b) return;
      hash.Update(std::string_view(buffer.data() + (a - at), static_cast<std::size_t>(b - a)));
      hashed += b - a;
    };
    hashPart(at, skipFrom);
    hashPart(std::max(skipTo, at), end);
    // Records are counted from the end of the post-action list on.
    const char* p = buffer.data() + (std::max(countFrom, at) - at);
    const char* stop = buffer.data() + n;
    if (p < stop) {
      while (const void* hit = std::memchr(p, separator, static_cast<std::size_t>(stop - p))) {
        const char* sep = static_cast<const char*>(hit);
        counter.EndRecord(recordLength + (sep - p));
        recordLength = 0;
        p = sep + 1;
      }
      recordLength += stop - p;
    }
    at = end;
  }

  const bool countsWhole = counter.routines == marker.routines && counter.checkRoutines == marker.checkRoutines;
  if (hashed < marker.sealedBytes && !countsWhole) {
    Damaged(damage::SealedCut(fileSize_, fileSize_ - hashed + marker.sealedBytes, counter.routines, marker.routines,
                              counter.checkRoutines, marker.checkRoutines));
  }
  if (!countsWhole) {
    Damaged(damage::CountsChanged(counter.routines, marker.routines, counter.checkRoutines, marker.checkRoutines));
  }
  if (hashed != marker.sealedBytes) Damaged(damage::SizeChanged(hashed - marker.sealedBytes));
  if (hash.Final() != marker.digest) Damaged(damage::DigestChanged());
}

}  // namespace dorvik
