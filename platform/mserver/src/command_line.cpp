#include "command_line.h"

#include <cerrno>
#include <cstdlib>

namespace mserver::cli {

long Number(const std::string& option, const std::string& text, long min, long max) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < min || v > max) {
    throw UsageError("option " + option + ": '" + text + "' is not a number from " + std::to_string(min) + " to " +
                     std::to_string(max));
  }
  return v;
}

mlink::Endpoint EndpointOption(const std::string& option, const std::string& text) {
  try {
    return mlink::ParseEndpoint(text);
  } catch (const std::invalid_argument& e) {
    throw UsageError("option " + option + ": " + e.what());
  }
}

}  // namespace mserver::cli
