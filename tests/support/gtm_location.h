// Where GT.M is installed, for the tests and benchmarks that compare the
// engine with it: $gtm_dist when it holds `mumps`, else the folder of
// Debian's fis-gtm package; empty when there is none.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace dorvik::testing {

inline std::string FindGtm() {
  namespace fs = std::filesystem;
  if (const char* dist = std::getenv("gtm_dist"); dist && fs::exists(fs::path(dist) / "mumps")) return dist;
  const fs::path root = "/usr/lib/x86_64-linux-gnu/fis-gtm";
  std::error_code ec;
  if (!fs::exists(root, ec)) return {};
  for (const auto& entry : fs::directory_iterator(root, ec))
    if (fs::exists(entry.path() / "mumps")) return entry.path().string();
  return {};
}

}  // namespace dorvik::testing
