#include "distribution/integrity_marker.h"

#include <algorithm>
#include <array>

#include "distribution/damage_texts.h"
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

[[noreturn]] void Unreadable(std::string_view why) { throw DamagedFileError(damage::MarkerUnreadable(why)); }

std::uint64_t ParseNumber(const Spelling& s, std::string_view text, const char* what) {
  // At most 15 digits: every value stays below 2^60.
  if (text.empty() || text.size() > 15) Unreadable(std::string("неверное поле: ") + what);
  std::uint64_t value = 0;
  for (const char c : text) {
    const auto digit = s.digits.find(c);
    if (digit == std::string_view::npos) Unreadable(std::string("неверное поле: ") + what);
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
       {static_cast<std::uint64_t>(marker.version), static_cast<std::uint64_t>(marker.checkRoutines),
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

namespace {

// Whether `plain` ends like a marker of spelling `s` whose opening was
// changed: four separators and a digest of 64 digits at the end. The bytes
// another packer leaves after the last "@" do not look so.
bool EndsLikeAMarker(const Spelling& s, std::string_view plain) {
  if (plain.size() < 64 + 4) return false;
  const std::string_view digest = plain.substr(plain.size() - 64);
  if (digest.find_first_not_of(s.digits) != std::string_view::npos) return false;
  return std::count(plain.begin(), plain.end(), s.separator) >= 4 && plain[plain.size() - 65] == s.separator;
}

}  // namespace

std::optional<IntegrityMarker> ParseIntegrityMarker(std::string_view plain) {
  for (const Spelling& s : kSpellings) {
    const bool opens = plain.size() > s.magic.size() && plain.substr(0, s.magic.size()) == s.magic &&
                       plain[s.magic.size()] == s.separator;
    // A marker whose opening (or the "@" before it) was changed would make
    // the file look unsealed: damage, not silence.
    if (!opens && EndsLikeAMarker(s, plain)) Unreadable("изменено начало отметки");
  }

  for (const Spelling& s : kSpellings) {
    if (plain.size() <= s.magic.size() || plain.substr(0, s.magic.size()) != s.magic ||
        plain[s.magic.size()] != s.separator) {
      continue;
    }
    std::string_view rest = plain.substr(s.magic.size() + 1);
    std::array<std::string_view, 5> fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const auto end = rest.find(s.separator);
      if ((end == std::string_view::npos) != (i + 1 == fields.size())) Unreadable("неверное число полей");
      fields[i] = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    IntegrityMarker marker;
    const std::uint64_t version = ParseNumber(s, fields[0], "версия");
    if (version != kSealsRoutinesOnly && version != kSealsWholeFile) Unreadable("неизвестная версия");
    marker.version = static_cast<int>(version);
    marker.checkRoutines = static_cast<std::int64_t>(ParseNumber(s, fields[1], "число программ проверки"));
    marker.routines = static_cast<std::int64_t>(ParseNumber(s, fields[2], "число программ"));
    marker.sealedBytes = static_cast<std::int64_t>(ParseNumber(s, fields[3], "длина"));
    if (fields[4].size() != 64) Unreadable("неверная сумма SHA-256");
    for (std::size_t i = 0; i < 32; ++i) {
      const auto high = s.digits.find(fields[4][2 * i]);
      const auto low = s.digits.find(fields[4][2 * i + 1]);
      if (high == std::string_view::npos || low == std::string_view::npos) Unreadable("неверная сумма SHA-256");
      marker.digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return marker;
  }
  return std::nullopt;
}

}  // namespace dorvik
