#include "distribution/integrity_marker.h"

#include <array>

#include "distribution/reader.h"

namespace dorvik {

namespace {

struct Spelling {
  std::string_view magic;
  char separator;
  std::string_view digits;
};

constexpr std::array<Spelling, 2> kSpellings{{
    {"VMSEAL", ':', "0123456789ABCDEF"},
    {"vmseal", ';', "ghijklmnopqrstuv"},
}};
constexpr int kVersion = 1;

bool Holds(const Spelling& s, std::uint8_t b) {
  const char c = static_cast<char>(b);
  return c == s.separator || s.magic.find(c) != std::string_view::npos || s.digits.find(c) != std::string_view::npos;
}

std::string Number(const Spelling& s, std::uint64_t value) {
  std::string out;
  do {
    out.insert(out.begin(), s.digits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return out;
}

[[noreturn]] void Unreadable(const std::string& why) {
  throw DamagedFileError("the integrity marker is unreadable (" + why + ")");
}

std::uint64_t ParseNumber(const Spelling& s, std::string_view text, const char* what) {
  // At most 15 digits: every value stays below 2^60.
  if (text.empty() || text.size() > 15) Unreadable(std::string("bad ") + what);
  std::uint64_t value = 0;
  for (const char c : text) {
    const auto digit = s.digits.find(c);
    if (digit == std::string_view::npos) Unreadable(std::string("bad ") + what);
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

std::string FormatIntegrityMarker(const IntegrityMarker& marker, std::uint8_t key) {
  // A byte equal to the key would be stored as zero; the spellings share no
  // byte, so one of them always fits.
  const Spelling& s = Holds(kSpellings[0], key) ? kSpellings[1] : kSpellings[0];
  std::string out(s.magic);
  for (const std::uint64_t n :
       {static_cast<std::uint64_t>(kVersion), static_cast<std::uint64_t>(marker.checkRoutines),
        static_cast<std::uint64_t>(marker.routines), static_cast<std::uint64_t>(marker.sealedBytes)}) {
    out += s.separator;
    out += Number(s, n);
  }
  out += s.separator;
  for (const auto b : marker.digest) {
    out += s.digits[b >> 4];
    out += s.digits[b & 15];
  }
  return out;
}

std::optional<IntegrityMarker> ParseIntegrityMarker(std::string_view plain) {
  for (const Spelling& s : kSpellings) {
    if (plain.size() <= s.magic.size() || plain.substr(0, s.magic.size()) != s.magic ||
        plain[s.magic.size()] != s.separator) {
      continue;
    }
    std::string_view rest = plain.substr(s.magic.size() + 1);
    std::array<std::string_view, 5> fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const auto end = rest.find(s.separator);
      if ((end == std::string_view::npos) != (i + 1 == fields.size())) Unreadable("wrong number of fields");
      fields[i] = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    if (ParseNumber(s, fields[0], "version") != kVersion) Unreadable("unknown version");
    IntegrityMarker marker;
    marker.checkRoutines = static_cast<std::int64_t>(ParseNumber(s, fields[1], "check routine count"));
    marker.routines = static_cast<std::int64_t>(ParseNumber(s, fields[2], "routine count"));
    marker.sealedBytes = static_cast<std::int64_t>(ParseNumber(s, fields[3], "length"));
    if (fields[4].size() != 64) Unreadable("bad SHA-256");
    for (std::size_t i = 0; i < 32; ++i) {
      const auto high = s.digits.find(fields[4][2 * i]);
      const auto low = s.digits.find(fields[4][2 * i + 1]);
      if (high == std::string_view::npos || low == std::string_view::npos) Unreadable("bad SHA-256");
      marker.digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return marker;
  }
  return std::nullopt;
}

}  // namespace dorvik
