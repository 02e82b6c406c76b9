// What the fuzz targets of dorpack's routine file readers share: the input
// becomes one routine file of a manifest in a folder of its own, which is
// packed as `dorpack build` packs it. Any input must end in a package or a
// PackError, never in a crash or another exception. A refusal keeps the shape
// "FILE:LINE: reason" (the file first, below the folder) with the reason in
// Russian, and so does every warning. A package that packs must read back
// from its data file, through the installer's reader, with every routine as
// the file gave it, and extracting the data file in the given format must
// give files that read as the same routines again.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "dorpack/distribution_extract.h"
#include "dorpack/distribution_listing.h"
#include "dorpack/manifest.h"
#include "dorpack/package_writer.h"

namespace routine_file_fuzz {

namespace fs = std::filesystem;

inline void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
  }
}

inline void WriteFile(const fs::path& file, std::string_view text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

inline const fs::path& Folder() {
  static const fs::path folder = [] {
    const fs::path f = fs::temp_directory_path() / ("fuzz-routine-file-" + std::to_string(::getpid()));
    fs::create_directories(f);
    return f;
  }();
  return folder;
}

// Whether the text holds a Cyrillic letter (UTF-8 lead bytes D0 and D1).
inline bool HasCyrillic(std::string_view text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b == 0xD0 || b == 0xD1) return true;
  }
  return false;
}

// "FOLDER/...: reason", the reason in Russian.
inline void RequireMessageShape(const std::string& message, const char* what) {
  const std::string start = Folder().string() + "/";
  Require(message.rfind(start, 0) == 0, what);
  Require(message.find(": ", start.size()) != std::string::npos, what);
  Require(HasCyrillic(message), what);
}

// The same names and lines; with `blankForEmpty` an empty line of `want`
// is one blank in `got` (a routine output file cannot hold empty lines).
template <typename Want, typename Got>
inline void RequireSameRoutines(const std::vector<Want>& want, const std::vector<Got>& got, const char* what,
                                bool blankForEmpty = false) {
  Require(want.size() == got.size(), what);
  for (std::size_t i = 0; i < want.size(); ++i) {
    Require(want[i].name == got[i].name, what);
    std::vector<std::string> lines = want[i].lines;
    if (blankForEmpty) {
      for (auto& line : lines) {
        if (line.empty()) line = " ";
      }
    }
    Require(lines == got[i].lines, what);
  }
}

// Packs `bytes` as the file `fileName` of a manifest with the given encoding
// and checks what is promised above.
inline void PackRoutineFile(std::string_view fileName, std::string_view bytes, bool cp866,
                            dorpack::ExtractFormat format) {
  const fs::path manifest = Folder() / "m.json";
  WriteFile(Folder() / fileName, bytes);
  WriteFile(manifest,
            std::string(R"({"product": "P", "version": "1", "build_date": "2", "password": "3", "encoding": ")") +
                (cp866 ? "cp866" : "utf-8") + R"(", "routines": [")" + std::string(fileName) + "\"]}");
  dorpack::Package package;
  dorpack::Warnings warnings;
  std::string packed;
  try {
    package = dorpack::LoadManifest(manifest, &warnings);
    packed = dorpack::PackageBytes(package);
  } catch (const dorpack::PackError& e) {
    RequireMessageShape(e.what(), "a refusal without its file, line and Russian reason");
    return;
  }
  for (const auto& warning : warnings) RequireMessageShape(warning, "a warning without its file and Russian text");

  const fs::path dataFile = Folder() / "d.dat";
  WriteFile(dataFile, packed);
  dorpack::DistributionListing listing;
  try {
    listing = dorpack::ReadDistributionListing(dataFile);
  } catch (const dorpack::ListError& e) {
    std::fprintf(stderr, "fuzz: a packed file does not read back: %s\n", e.what());
    std::abort();
  }
  RequireSameRoutines(package.routines, listing.routines, "a routine changed between packing and reading");

  // Out as files and in again.
  const fs::path out = Folder() / "out";
  fs::remove_all(out);
  try {
    dorpack::ExtractDistribution(listing, out, format);
    const dorpack::Package again = dorpack::LoadManifest(out / "manifest.json");
    RequireSameRoutines(listing.routines, again.routines, "a routine changed between extracting and reading",
                        format == dorpack::ExtractFormat::kRo);
  } catch (const dorpack::PackError& e) {
    // Only names that one file system cannot tell apart may stop an extract.
    Require(std::string(e.what()).find("регистром букв") != std::string::npos, "an extract was refused");
  }
}

}  // namespace routine_file_fuzz
