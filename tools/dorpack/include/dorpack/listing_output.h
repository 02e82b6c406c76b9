// The two forms of `dorpack list`: a table for people and one JSON object
// for programs, every text in UTF-8.
#pragma once

#include <ostream>

#include <nlohmann/json.hpp>

#include "dorpack/distribution_listing.h"

namespace dorpack {

nlohmann::ordered_json ListingJson(const DistributionListing& listing);
void PrintListing(const DistributionListing& listing, std::ostream& out);

}  // namespace dorpack
