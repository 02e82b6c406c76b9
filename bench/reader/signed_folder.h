// A signed distribution folder for the signature benchmark: the generated
// data file (linked, not copied), signed with a fresh key whose public half
// is kept beside it as publisher.pub.
#pragma once

#include <filesystem>

#include "signing/distribution_signature.h"

namespace reader_bench {

// The folder, made once per data file and run.
const std::filesystem::path& SignedFolder(const std::filesystem::path& dataFile);

// The installer's check of the folder, with publisher.pub trusted.
dorvik::signing::SignatureState CheckSignedFolder(const std::filesystem::path& folder);

}  // namespace reader_bench
