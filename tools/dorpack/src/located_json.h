// JSON parsing that remembers the line of every value, so that a refusal can
// point at the line of the manifest that caused it.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace dorpack {

struct LocatedJson {
  nlohmann::json value;
  // Line (from 1) of each value by JSON pointer; an object member's line is
  // the line of its key.
  std::map<std::string, int> lines;

  int LineOf(const std::string& pointer) const {
    const auto it = lines.find(pointer);
    return it == lines.end() ? 0 : it->second;
  }
};

// Throws PackError("file:line: ...") for text that is not JSON, for invalid
// UTF-8 and for an object key given twice.
LocatedJson ParseLocatedJson(std::string_view text, const std::string& fileName);

// The JSON pointer of `key` inside the object at `pointer`.
std::string MemberPointer(const std::string& pointer, std::string_view key);

}  // namespace dorpack
