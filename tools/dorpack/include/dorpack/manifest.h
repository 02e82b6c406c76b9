// The manifest of a distribution: a JSON file that names the header texts,
// the key, the check label, the post-actions and the routine files.
#pragma once

#include <filesystem>

#include "dorpack/package.h"

namespace dorpack {

// Reads the manifest and every routine file it names (paths relative to the
// manifest's folder; a file name may be a glob pattern, expanded in sorted
// order) into a Package whose texts are code page 866 bytes. Throws PackError
// naming the file and line of the first fault. What should be known but does
// not stop the packing goes to `warnings`.
Package LoadManifest(const std::filesystem::path& manifestFile, Warnings* warnings = nullptr);

}  // namespace dorpack
