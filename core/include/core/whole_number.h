// Whole numbers in texts that come from the server or a distribution: a
// post-action's percentage, the default button of a yes/no question.
#pragma once

#include <optional>
#include <string>

namespace dorvik {

// The text as a whole number: blanks around it, an optional sign and decimal
// digits, nothing else. Throws std::invalid_argument naming the text
// ("'x' is not a valid integer value") otherwise.
int ParseWholeNumber(const std::string& text);

// The same without the failure: nothing when the text is not a whole number.
std::optional<int> WholeNumber(const std::string& text);

}  // namespace dorvik
