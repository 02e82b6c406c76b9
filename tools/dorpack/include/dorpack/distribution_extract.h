// Writing a distribution's routines back out as files, with a manifest that
// packs them into the very same data file again, so that a maker can diff a
// distribution against their sources.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "dorpack/distribution_listing.h"
#include "dorpack/package.h"

namespace dorpack {

enum class ExtractFormat {
  kInt,  // one NAME.int file per routine (check routines under check/), UTF-8
  kRo,   // routines.ro (and check.ro), routine output files in UTF-8
};

struct ExtractResult {
  std::vector<std::filesystem::path> files;  // in the order written, manifest.json last
  Warnings warnings;
};

// Writes the routines and manifest.json into `folder`, which must be empty or
// not exist. Throws PackError when the folder holds anything, a routine's name
// is not a routine name (it would become a file name) or two routines would
// be one file; a failed extract leaves nothing of itself behind.
// With kRo an empty routine line, which that format cannot hold, is written as
// one blank (a warning says so: the data file built from it differs).
ExtractResult ExtractDistribution(const DistributionListing& listing, const std::filesystem::path& folder,
                                  ExtractFormat format);

}  // namespace dorpack
