#include "mserver/log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace mserver {

std::string UtcTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms.count()));
  return text;
}

void Log::Line(std::string_view text) {
  const std::string stamp = UtcTimestamp();
  std::lock_guard lock(mutex_);
  out_ << stamp << ' ' << text << '\n';
  out_.flush();
}

}  // namespace mserver
