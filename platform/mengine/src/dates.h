// $HOROLOG day numbers (day 0 = 31 Dec 1840) and the common $ZDATE,
// $ZDATEH, $ZTIME and $ZTIMEH formats.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mengine::dates {

// Format codes: 1 MM/DD/YYYY, 2 DD Mmm YYYY, 3 YYYY-MM-DD, 4 DD/MM/YYYY,
// 5 Mmm D, YYYY, 8 YYYYMMDD. Nothing for an unknown code or a day out of range.
std::optional<std::string> FormatDate(std::int64_t day, int format);
std::optional<std::int64_t> ParseDate(std::string_view text, int format);
// Format codes: 1 HH:MM:SS, 2 HH:MM.
std::optional<std::string> FormatTime(std::int64_t seconds, int format);
std::optional<std::int64_t> ParseTime(std::string_view text);

// Day number of a Unix day (days since 1970-01-01).
inline std::int64_t HorologDay(std::int64_t unix_day) { return unix_day + 47117; }

}  // namespace mengine::dates
