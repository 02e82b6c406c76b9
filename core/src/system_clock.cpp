#include <chrono>
#include <ctime>
#include <thread>

#include "core/services.h"

namespace dorvik {

namespace {

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  return tm;
}

}  // namespace

double SystemClock::TimeOfDay() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::tm tm = LocalNow();
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return (tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec + ms / 1000.0) / 86400.0;
}

CalendarDate SystemClock::Today() {
  const std::tm tm = LocalNow();
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::uint32_t SystemClock::TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::Sleep(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace dorvik
