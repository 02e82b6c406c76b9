// What the installer would see in a data file, read with its own reader in
// the order of an installation.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "distribution/reader.h"

namespace dorpack {

struct ListedRoutine {
  std::string name;                // code page 866
  std::vector<std::string> lines;  // code page 866, without the name line
};

struct DistributionListing {
  dorvik::Distribution header;  // product, password and descriptions in code page 1251
  std::vector<ListedRoutine> checkRoutines;
  std::vector<ListedRoutine> routines;
  // The integrity marker the file was verified against; none for a file
  // packed without one.
  std::optional<dorvik::IntegrityMarker> integrity;
};

// The file cannot be read as a distribution; the message names the fault.
class ListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

DistributionListing ReadDistributionListing(const std::filesystem::path& dataFile);

}  // namespace dorpack
