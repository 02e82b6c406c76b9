#include "distribution/routine_name.h"

#include <algorithm>

namespace dorvik {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool IsTag(std::string_view tag) {
  if (tag.empty()) return true;  // $$^routine calls the routine's first line
  bool digits = true;
  for (const char c : tag) digits = digits && IsAsciiDigit(c);
  if (digits) return true;
  std::size_t i = tag[0] == '%' ? 1 : 0;
  if (i == tag.size() || !IsAsciiLetter(tag[i])) return false;
  for (; i < tag.size(); ++i) {
    if (!IsAsciiLetter(tag[i]) && !IsAsciiDigit(tag[i])) return false;
  }
  return true;
}

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

bool IsValidEntryReference(std::string_view label) {
  const std::size_t caret = label.find('^');
  if (caret == std::string_view::npos) return false;
  return IsTag(label.substr(0, caret)) && IsValidRoutineName(label.substr(caret + 1));
}

int FindUnfitPostAction(const Distribution& dist) {
  const std::size_t count = std::max(dist.PostActionLabels.size(), dist.PostActionDescriptions.size());
  for (std::size_t k = 0; k < count; ++k) {
    if (k >= dist.PostActionLabels.size() || !IsValidEntryReference(dist.PostActionLabels[k])) {
      return static_cast<int>(k);
    }
    if (k >= dist.PostActionDescriptions.size() || HasControlCharacter(dist.PostActionDescriptions[k])) {
      return static_cast<int>(k);
    }
  }
  return -1;
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 32 || b == 127) return true;
  }
  return false;
}

}  // namespace dorvik
