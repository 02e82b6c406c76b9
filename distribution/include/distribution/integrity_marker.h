// The integrity marker that dorpack leaves in a data file, so that a cut or
// changed file is refused before anything of it is installed.
//
// Where: the bytes after the last item separator ("@") of the post-action
// list record, encoded like the rest of the body. A reader of the format
// ignores those bytes, so every installer still reads such a file unchanged,
// and a file cut anywhere after the marker still carries it.
//
// Layout of the plain text, fields separated by ":":
//   VMSEAL:<version>:<check routines>:<routine records>:<sealed bytes>:<SHA-256>
// The numbers are upper-case hexadecimal; <sealed bytes> and the SHA-256
// (64 digits) cover
//   version 2: every byte of the file but the marker's own (the key byte,
//     the header, the password, the check label and the post-actions too);
//   version 1 (files of earlier packers): only the bytes after the
//     post-action list record, that is the check routines and the routines. A key that would store a byte of this
// spelling as zero selects the second spelling, which has no byte in common
// with the first: lower case "vmseal", ";" between fields and the digits
// written as "ghijklmnopqrstuv" (g = 0 ... v = 15). Neither spelling holds
// "@", "#", CR, LF or a zero byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "distribution/sha256.h"

namespace dorvik {

// The versions of the marker: what its digest covers.
inline constexpr int kSealsRoutinesOnly = 1;
inline constexpr int kSealsWholeFile = 2;

struct IntegrityMarker {
  int version = kSealsWholeFile;
  std::int64_t checkRoutines = 0;
  std::int64_t routines = 0;
  std::int64_t sealedBytes = 0;
  Sha256::Digest digest{};
};

// The marker's plain text in the spelling that the key can store.
std::string FormatIntegrityMarker(const IntegrityMarker& marker, std::uint8_t key);

// The marker in the plain (decoded) bytes after the last item separator:
// nothing when they do not begin with either spelling's "vmseal" and
// separator (another packer's bytes, ignored as ever). Throws
// DamagedFileError when they begin so but do not hold a whole marker.
std::optional<IntegrityMarker> ParseIntegrityMarker(std::string_view plain);

}  // namespace dorvik
