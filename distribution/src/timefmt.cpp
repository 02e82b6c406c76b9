#include "distribution/timefmt.h"

#include <cmath>
#include <cstdio>

namespace dorvik {

std::string FormatShortDate(const CalendarDate& date) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", date.day, date.month, date.year);
  return buf;
}

std::string FormatLongTime(double days) {
  if (!std::isfinite(days) || days < 0) days = 0;
  auto seconds = static_cast<long long>(std::llround(days * 86400.0));
  seconds %= 86400;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buf;
}

}  // namespace dorvik
