#include <iostream>

#include "commands.h"
#include "dorpack/distribution_listing.h"
#include "dorpack/listing_output.h"
#include "dorpack/manifest.h"
#include "dorpack/package_writer.h"
#include "source_listing.h"

namespace dorpack {

namespace {

constexpr const char* kListHelp =
    "Usage: dorpack list [--json] dorpack.dat\n"
    "       dorpack list [--json] MANIFEST.json\n"
    "\n"
    "Reads a data file with the installer's own reader, in the order of an\n"
    "installation, and shows what the installer would see: the header, the\n"
    "key, the password, the check label, the post-actions, the check routines\n"
    "and the routines with their line counts and sizes.\n"
    "\n"
    "Given a manifest (a .json file), reads it as \"dorpack build\" would and\n"
    "shows where each routine comes from: its file, the line that names it,\n"
    "and its place in a file of several routines.\n"
    "\n"
    "Options:\n"
    "  --json      print one JSON object with every text in UTF-8, each\n"
    "              routine with its lines (without the name line)\n"
    "  -h, --help  show this help\n"
    "\n"
    "Exit status: 0 the file is readable; 1 it is missing or damaged (the\n"
    "message names the fault); 2 wrong command line.\n";

// The routines a build of the manifest would pack, refused as the build
// would refuse them.
int ListManifest(const std::string& manifest, bool asJson) {
  try {
    Warnings warnings;
    const Package package = LoadManifest(manifest, &warnings);
    CheckPackage(package);
    for (const auto& warning : warnings) std::cerr << "dorpack list: warning: " << warning << "\n";
    if (asJson) {
      std::cout << SourcesJson(package, warnings).dump(2) << "\n";
    } else {
      PrintSources(package, std::cout);
    }
    return kExitOk;
  } catch (const PackError& e) {
    std::cerr << "dorpack list: " << e.what() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "dorpack list: " << manifest << ": " << e.what() << "\n";
  }
  return kExitRefused;
}

}  // namespace

int RunList(const std::vector<std::string>& args) {
  bool asJson = false;
  std::string file;
  for (const auto& arg : args) {
    if (arg == "-h" || arg == "--help") {
      std::cout << kListHelp;
      return kExitOk;
    }
    if (arg == "--json") {
      asJson = true;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << "dorpack list: unknown option " << arg << "\n" << kListHelp;
      return kExitUsage;
    } else if (file.empty()) {
      file = arg;
    } else {
      std::cerr << "dorpack list: more than one file given\n" << kListHelp;
      return kExitUsage;
    }
  }
  if (file.empty()) {
    std::cerr << "dorpack list: no data file given\n" << kListHelp;
    return kExitUsage;
  }

  if (file.size() > 5 && file.compare(file.size() - 5, 5, ".json") == 0) return ListManifest(file, asJson);
  try {
    const DistributionListing listing = ReadDistributionListing(file);
    if (asJson) {
      std::cout << ListingJson(listing).dump(2) << "\n";
    } else {
      PrintListing(listing, std::cout);
    }
    return kExitOk;
  } catch (const std::exception& e) {
    std::cerr << "dorpack list: " << file << ": " << e.what() << "\n";
    return kExitRefused;
  }
}

}  // namespace dorpack
