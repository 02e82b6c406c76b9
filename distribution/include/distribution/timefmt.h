// The installer's date and time texts: day.month.year for dates and
// hours:minutes:seconds for times of day and durations.
#pragma once

#include <string>

namespace dorvik {

struct CalendarDate {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
};

// "08.12.2026".
std::string FormatShortDate(const CalendarDate& date);

// A time of day or a duration given as a fraction of a day, as "H:MM:SS"
// rounded to the nearest second; whole days are dropped, so a duration of
// exactly one day reads "0:00:00".
std::string FormatLongTime(double days);

}  // namespace dorvik
