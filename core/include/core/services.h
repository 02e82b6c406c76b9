// Platform services the installation uses, behind small interfaces so that
// tests can fix the time and keep settings away from the user's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "distribution/timefmt.h"

namespace dorvik {

class Clock {
 public:
  virtual ~Clock() = default;
  // Time of day as a fraction of a day (0.5 is noon).
  virtual double TimeOfDay() = 0;
  virtual CalendarDate Today() = 0;
  // Milliseconds since some fixed moment, wrapping at 2^32.
  virtual std::uint32_t TickCount() = 0;
  virtual void Sleep(std::uint32_t ms) = 0;
};

// The system's clock.
class SystemClock : public Clock {
 public:
  double TimeOfDay() override;
  CalendarDate Today() override;
  std::uint32_t TickCount() override;
  void Sleep(std::uint32_t ms) override;
};

// A store of named string values for the connection settings (the
// registry key on Windows, a per-user settings file elsewhere).
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // False when the store cannot be opened; reads then give nothing and
  // writes are skipped.
  virtual bool IsOpen() const = 0;
  virtual std::optional<std::string> Read(const std::string& name) = 0;
  virtual void Write(const std::string& name, const std::string& value) = 0;
};

}  // namespace dorvik
