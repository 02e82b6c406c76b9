// Scratch folders, files and process runs for the packer's tests.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "dorpack/distribution_listing.h"
#include "dorpack/package.h"

namespace dorpack_test {

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Writes `bytes` to the relative path, creating folders; returns the full path.
  std::filesystem::path Write(const std::string& relative, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

std::string ReadBytes(const std::filesystem::path& file);

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs the dorpack executable with the arguments (each quoted for the shell).
CommandResult RunDorpack(std::initializer_list<std::string> args);
CommandResult RunDorpack(const std::vector<std::string>& args);

// Packs the package into a file of the folder and reads it back as the
// installer would.
dorpack::DistributionListing PackAndList(const dorpack::Package& package, const ScratchFolder& folder);

// Text converted from UTF-8 to code page 866, the form a package holds.
std::string Dos(std::string_view utf8);
dorpack::PackText DosText(std::string_view utf8);

}  // namespace dorpack_test
