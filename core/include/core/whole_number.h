// Whole numbers in texts that come from the server or a distribution.
#pragma once

#include <string>

namespace dorvik {

// The text as a whole number: an optional sign and decimal digits, nothing
// else. Throws std::invalid_argument naming the text otherwise.
int ParseWholeNumber(const std::string& text);

}  // namespace dorvik
