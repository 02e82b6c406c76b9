#include <iostream>

#include "commands.h"
#include "dorpack/distribution_extract.h"

namespace dorpack {

namespace {

constexpr const char* kExtractHelp =
    "Usage: dorpack extract [--format int|ro] dorpack.dat FOLDER\n"
    "\n"
    "Writes the routines of a data file, read with the installer's own reader,\n"
    "into FOLDER (new or empty) in UTF-8, with a manifest.json that packs them\n"
    "into the same data file again (\"dorpack build FOLDER/manifest.json\"), so\n"
    "that a distribution can be compared with its sources.\n"
    "\n"
    "Options:\n"
    "  --format int  one NAME.int file per routine, check routines in check/\n"
    "                (the default)\n"
    "  --format ro   routines.ro and check.ro, routine output files; an empty\n"
    "                routine line is written as one blank (a warning says so)\n"
    "  -h, --help    show this help\n"
    "\n"
    "Exit status: 0 written; 1 the data file is missing or damaged, or FOLDER\n"
    "is not empty (nothing is written); 2 wrong command line.\n";

}  // namespace

int RunExtract(const std::vector<std::string>& args) {
  ExtractFormat format = ExtractFormat::kInt;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kExtractHelp;
      return kExitOk;
    }
    if (arg == "--format") {
      const std::string value = i + 1 < args.size() ? args[++i] : "";
      if (value != "int" && value != "ro") {
        std::cerr << "dorpack extract: --format takes int or ro\n" << kExtractHelp;
        return kExitUsage;
      }
      format = value == "ro" ? ExtractFormat::kRo : ExtractFormat::kInt;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << "dorpack extract: unknown option " << arg << "\n" << kExtractHelp;
      return kExitUsage;
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) {
    std::cerr << "dorpack extract: a data file and a folder are required\n" << kExtractHelp;
    return kExitUsage;
  }

  try {
    const DistributionListing listing = ReadDistributionListing(files[0]);
    const ExtractResult result = ExtractDistribution(listing, files[1], format);
    for (const auto& warning : result.warnings) std::cerr << "dorpack extract: warning: " << warning << "\n";
    std::cout << files[1] << ": " << listing.routines.size() << " routines, " << listing.checkRoutines.size()
              << " check routines; " << result.files.back().string() << " packs them again\n";
    return kExitOk;
  } catch (const std::exception& e) {
    std::cerr << "dorpack extract: " << files[0] << ": " << e.what() << "\n";
    return kExitRefused;
  }
}

}  // namespace dorpack
