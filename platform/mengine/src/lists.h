// Cache lists ($LISTBUILD and friends): a byte string of elements, each
// a length, a type byte and the data.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "value.h"

namespace mengine::lists {

// Appends one element; nullptr-like `undefined` writes an element with no value.
void Append(std::string& list, const Value* element);

// Splits a list into its elements (nothing for an undefined element).
// Throws <LIST> when the bytes are not a list.
std::vector<std::optional<Value>> Split(std::string_view list);

}  // namespace mengine::lists
