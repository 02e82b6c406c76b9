// Calendar conversions for $ZDATE and friends (proleptic Gregorian).
#include "dates.h"

#include <cstdio>

namespace mengine::dates {
namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1970-01-01 of a civil date, and back (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

bool Digits(std::string_view s, std::size_t pos, std::size_t n, int& out) {
  if (pos + n > s.size()) return false;
  out = 0;
  for (std::size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

}  // namespace

std::optional<std::string> FormatDate(std::int64_t day, int format) {
  if (day < 0 || day > 2980013) return std::nullopt;  // up to 9999-12-31
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(day - 47117, y, m, d);
  char buf[32];
  switch (format) {
    case 1:
      std::snprintf(buf, sizeof buf, "%02u/%02u/%04lld", m, d, static_cast<long long>(y));
      break;
    case 2:
      std::snprintf(buf, sizeof buf, "%02u %s %04lld", d, kMonths[m - 1], static_cast<long long>(y));
      break;
    case 3:
      std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
      break;
    case 4:
      std::snprintf(buf, sizeof buf, "%02u/%02u/%04lld", d, m, static_cast<long long>(y));
      break;
    case 5:
      std::snprintf(buf, sizeof buf, "%s %u, %04lld", kMonths[m - 1], d, static_cast<long long>(y));
      break;
    case 8:
      std::snprintf(buf, sizeof buf, "%04lld%02u%02u", static_cast<long long>(y), m, d);
      break;
    default:
      return std::nullopt;
  }
  return std::string(buf);
}

std::optional<std::int64_t> ParseDate(std::string_view s, int format) {
  int y = 0, m = 0, d = 0;
  bool ok = false;
  switch (format) {
    case 1:
      ok = s.size() == 10 && Digits(s, 0, 2, m) && s[2] == '/' && Digits(s, 3, 2, d) && s[5] == '/' &&
           Digits(s, 6, 4, y);
      break;
    case 3:
      ok = s.size() == 10 && Digits(s, 0, 4, y) && s[4] == '-' && Digits(s, 5, 2, m) && s[7] == '-' &&
           Digits(s, 8, 2, d);
      break;
    case 4:
      ok = s.size() == 10 && Digits(s, 0, 2, d) && s[2] == '/' && Digits(s, 3, 2, m) && s[5] == '/' &&
           Digits(s, 6, 4, y);
      break;
    case 8:
      ok = s.size() == 8 && Digits(s, 0, 4, y) && Digits(s, 4, 2, m) && Digits(s, 6, 2, d);
      break;
    default:
      return std::nullopt;
  }
  if (!ok || m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
  std::int64_t day = DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) + 47117;
  // Reject days that roll over into the next month (31/02).
  auto back = FormatDate(day, 3);
  char check[16];
  std::snprintf(check, sizeof check, "%04d-%02d-%02d", y, m, d);
  if (!back || *back != check || day < 0) return std::nullopt;
  return day;
}

std::optional<std::string> FormatTime(std::int64_t seconds, int format) {
  if (seconds < 0 || seconds >= 86400) return std::nullopt;
  char buf[16];
  auto h = seconds / 3600, mi = seconds / 60 % 60, se = seconds % 60;
  if (format == 1)
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(h), static_cast<long long>(mi),
                  static_cast<long long>(se));
  else if (format == 2)
    std::snprintf(buf, sizeof buf, "%02lld:%02lld", static_cast<long long>(h), static_cast<long long>(mi));
  else
    return std::nullopt;
  return std::string(buf);
}

std::optional<std::int64_t> ParseTime(std::string_view s) {
  int h = 0, m = 0, sec = 0;
  if (s.size() >= 5 && Digits(s, 0, 2, h) && s[2] == ':' && Digits(s, 3, 2, m)) {
    if (s.size() == 8 && s[5] == ':' && Digits(s, 6, 2, sec)) {
    } else if (s.size() != 5) {
      return std::nullopt;
    }
    if (h > 23 || m > 59 || sec > 59) return std::nullopt;
    return h * 3600 + m * 60 + sec;
  }
  return std::nullopt;
}

}  // namespace mengine::dates
