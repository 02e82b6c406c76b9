// The installation protocol in memory: an append-only list of lines in code
// page 1251. Every stage records what it did here; the wizard shell writes
// the list to a file when the program ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dorvik {

class InstallLog {
 public:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// The log line of a failure of the program's own logic caught at an
// operation's outer level: "Ошибка GUI приложения: " + message.
std::string AppFailureLine(std::string_view message);

// The log line of a failure caught inside a stage: "Ошибка GUI приложения. "
// + the step's words (which carry their own ": " or " ") + message.
std::string StepFailureLine(std::string_view step, std::string_view message);

}  // namespace dorvik
