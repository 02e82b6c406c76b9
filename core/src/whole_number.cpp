#include "core/whole_number.h"

#include <charconv>
#include <stdexcept>

namespace dorvik {

std::optional<int> WholeNumber(const std::string& text) {
  // Blanks around the number are accepted, as M's $J pads a number with them.
  const auto from = text.find_first_not_of(' ');
  if (from == std::string::npos) return std::nullopt;
  const char* first = text.data() + from;
  const char* last = text.data() + text.find_last_not_of(' ') + 1;
  if (*first == '+') ++first;
  int value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (first == last || error != std::errc() || end != last) return std::nullopt;
  return value;
}

int ParseWholeNumber(const std::string& text) {
  const std::optional<int> value = WholeNumber(text);
  if (!value) throw std::invalid_argument("'" + text + "' is not a valid integer value");
  return *value;
}

}  // namespace dorvik
