#include "distribution/routine_name.h"

namespace dorvik {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsValidRoutineName(std::string_view name) {
  constexpr std::size_t kMaxLength = 255;
  if (name.empty() || name.size() > kMaxLength) return false;
  if (name.front() == '%') name.remove_prefix(1);
  if (name.empty() || !IsAsciiLetter(name.front())) return false;
  bool afterDot = false;
  for (const char c : name) {
    if (c == '.') {
      if (afterDot) return false;
      afterDot = true;
    } else if (IsAsciiLetter(c) || IsAsciiDigit(c)) {
      afterDot = false;
    } else {
      return false;
    }
  }
  return !afterDot;
}

}  // namespace dorvik
