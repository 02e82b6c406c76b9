// The installation protocol in memory: an append-only list of lines in code
// page 1251. Every stage records what it did here; the wizard shell writes
// the list to a file when the program ends.
#pragma once

#include <string>
#include <vector>

namespace dorvik {

class InstallLog {
 public:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

}  // namespace dorvik
