// The server's log: one line per event on standard error (or any stream),
// with a UTC time stamp; safe to call from every thread.
#pragma once

#include <mutex>
#include <ostream>
#include <string_view>

namespace mserver {

class Log {
 public:
  explicit Log(std::ostream& out) : out_(out) {}
  void Line(std::string_view text);

 private:
  std::mutex mutex_;
  std::ostream& out_;
};

// "2026-12-08T07:30:01.250Z"
std::string UtcTimestamp();

}  // namespace mserver
