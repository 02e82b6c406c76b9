// A clock the test sets, and settings kept in memory.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "core/services.h"

namespace dorvik::testing {

class FakeClock : public Clock {
 public:
  double timeOfDay = 0.5;
  CalendarDate today{2026, 12, 8};
  std::uint32_t tick = 1000;
  // Added to the tick count on every reading, so that work seems to take time.
  std::uint32_t tickStep = 0;
  // Successive answers of TimeOfDay(), when set; the last one repeats.
  std::vector<double> times;
  // When set, answers TimeOfDay() instead.
  std::function<double()> now;
  std::vector<std::uint32_t> sleeps;

  double TimeOfDay() override {
    if (now) return timeOfDay = now();
    if (!times.empty()) {
      timeOfDay = times.front();
      if (times.size() > 1) times.erase(times.begin());
    }
    return timeOfDay;
  }
  CalendarDate Today() override { return today; }
  std::uint32_t TickCount() override {
    tick += tickStep;
    return tick;
  }
  void Sleep(std::uint32_t ms) override {
    sleeps.push_back(ms);
    tick += ms;
  }
};

class MemorySettings : public SettingsStore {
 public:
  bool open = true;
  std::map<std::string, std::string> values;
  bool IsOpen() const override { return open; }
  std::optional<std::string> Read(const std::string& name) override {
    if (!open) return std::nullopt;
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  void Write(const std::string& name, const std::string& value) override {
    if (open) values[name] = value;
  }
};

}  // namespace dorvik::testing
