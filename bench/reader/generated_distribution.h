// Distribution files of a given size for the reader benchmark, generated
// once per run into a temporary folder that is removed at exit.
#pragma once

#include <filesystem>

namespace reader_bench {

// A distribution of about `megabytes` MB: a check label with two check
// routines, three post-actions and routines of about 3.3 KB each.
const std::filesystem::path& GeneratedDistribution(int megabytes);

}  // namespace reader_bench
