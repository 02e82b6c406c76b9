// The list of a distribution's files and their SHA-256 sums, in the form
// sha256sum writes ("<64 hex digits>  <name>" per line), so that
// `sha256sum -c dorpack.sums` checks a distribution by hand. Names are
// relative to the distribution's folder, with "/" between folders.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "distribution/sha256.h"

namespace dorvik::signing {

// A list that is not in sha256sum's form, or names a file outside the
// folder or twice; the message (code page 1251) gives the line.
class SumsFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SumsEntry {
  std::string name;
  Sha256::Digest digest{};
};

// Accepts the text and the binary marker ("  name" and " *name"); refuses
// empty lines, names sha256sum had to escape, absolute names, names with
// "." or ".." parts or a backslash, and a name given twice.
std::vector<SumsEntry> ParseSumsList(std::string_view text);
std::string FormatSumsList(const std::vector<SumsEntry>& entries);

// The SHA-256 of a file, read once in blocks (memory stays flat). Throws
// std::runtime_error (code page 1251 message) when it cannot be read.
Sha256::Digest HashFile(const std::filesystem::path& file);

}  // namespace dorvik::signing
