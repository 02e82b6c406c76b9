// Routine buffer editing.
#include "routine_buffer.h"

#include <algorithm>

namespace mengine {

void RoutineBuffer::Load(const std::string& name, std::vector<std::string> lines) {
  name_ = name;
  lines_ = std::move(lines);
  pointer_ = static_cast<int>(lines_.size());
}

void RoutineBuffer::Clear() {
  lines_.clear();
  name_.clear();
  pointer_ = 0;
}

void RoutineBuffer::Remove(int first, int last) {
  int n = static_cast<int>(lines_.size());
  first = std::max(first, 1);
  last = std::min(last, n);
  if (first > last) return;
  lines_.erase(lines_.begin() + (first - 1), lines_.begin() + last);
  pointer_ = first - 1;
}

void RoutineBuffer::InsertAfter(int after, std::string text) {
  int n = static_cast<int>(lines_.size());
  after = std::clamp(after, 0, n);
  lines_.insert(lines_.begin() + after, std::move(text));
  pointer_ = after + 1;
}

}  // namespace mengine
