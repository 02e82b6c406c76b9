// libFuzzer target: the input is a dorpack manifest, in a folder with a few
// routine files. Any input must end in a package or a PackError naming the
// fault, never in a crash or another exception; and a package that packs
// must read back from its data file, through the installer's reader and
// integrity check, with every routine as the manifest gave it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "dorpack/distribution_listing.h"
#include "dorpack/manifest.h"
#include "dorpack/package_writer.h"

namespace {

namespace fs = std::filesystem;

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_manifest: %s\n", what);
    std::abort();
  }
}

void WriteFile(const fs::path& file, std::string_view text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

const fs::path& Folder() {
  static const fs::path folder = [] {
    const fs::path f = fs::temp_directory_path() / ("fuzz-manifest-" + std::to_string(::getpid()));
    fs::create_directories(f / "chk");
    WriteFile(f / "VMA.int", "VMA ; первая\n w \"Привет\",!\n q\n");
    WriteFile(f / "VMB.rtn", "VMB\n q\n");
    WriteFile(f / "%VMLIB.m", "%VMLIB\n q\n");
    WriteFile(f / "chk" / "VMCHK.int", "VMCHK ;\nchk() q 1\n");
    WriteFile(f / "CRLF.int", "CRLF\r\n q\r\n");
    return f;
  }();
  return folder;
}

// Only the folder's own files: no absolute paths, no way up, no escapes
// that could spell either.
bool StaysInFolder(std::string_view text) {
  return text.find("..") == std::string_view::npos && text.find('\\') == std::string_view::npos &&
         text.find("\"/") == std::string_view::npos && text.find('~') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!StaysInFolder(text)) return 0;
  const fs::path manifest = Folder() / "m.json";
  WriteFile(manifest, text);
  dorpack::Package package;
  std::string bytes;
  try {
    package = dorpack::LoadManifest(manifest);
    bytes = dorpack::PackageBytes(package);
  } catch (const dorpack::PackError&) {
    return 0;
  }
  const fs::path dataFile = Folder() / "d.dat";
  WriteFile(dataFile, bytes);
  try {
    const dorpack::DistributionListing listing = dorpack::ReadDistributionListing(dataFile);
    Require(listing.routines.size() == package.routines.size(), "routines lost between packing and reading");
    Require(listing.checkRoutines.size() == package.checkRoutines.size(), "check routines lost");
    for (std::size_t i = 0; i < package.routines.size(); ++i) {
      Require(listing.routines[i].name == package.routines[i].name, "a routine's name changed");
      Require(listing.routines[i].lines == package.routines[i].lines, "a routine's lines changed");
    }
    Require(listing.header.PostActionLabels.size() == package.postActions.size(), "post-actions lost");
  } catch (const dorpack::ListError& e) {
    std::fprintf(stderr, "fuzz_manifest: a packed file does not read back: %s\n", e.what());
    std::abort();
  }
  return 0;
}
