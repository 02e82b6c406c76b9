// The integrity marker that dorpack leaves in a data file, so that a cut or
// changed file is refused before anything of it is installed.
//
// Where: the bytes after the last item separator ("@") of the post-action
// list record, encoded like the rest of the body. A reader of the format
// ignores those bytes, so every installer still reads such a file unchanged,
// and a file cut anywhere after the marker still carries it.
//
// Layout of the plain text, fields separated by ":":
//   VMSEAL:1:<check routines>:<routine records>:<sealed bytes>:<SHA-256>
// The numbers are upper-case hexadecimal; <sealed bytes> and the SHA-256
// (64 digits) cover every byte of the file after the post-action list
// record, up to the end of the file. A key that would store a byte of this
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

struct IntegrityMarker {
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
