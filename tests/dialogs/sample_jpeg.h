// Writing JPEG pictures for tests and sample distributions.
#pragma once

#include <filesystem>

namespace dorvik_test {

// Writes a width x height picture (a colour gradient with rings, varied by
// `seed`) as a JPEG file; throws std::runtime_error when it cannot.
void WriteSampleJpeg(const std::filesystem::path& file, int width, int height, int seed);

}  // namespace dorvik_test
