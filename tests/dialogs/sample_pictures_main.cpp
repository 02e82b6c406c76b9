// make-sample-pictures FOLDER PREFIX COUNT: writes COUNT JPEG pictures
// PREFIX1.jpg ... into FOLDER, for sample distributions.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "sample_jpeg.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: make-sample-pictures FOLDER PREFIX COUNT\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  const std::string prefix = argv[2];
  char* end = nullptr;
  const long count = std::strtol(argv[3], &end, 10);
  if (*end != '\0' || count < 1 || count > 100) {
    std::cerr << "make-sample-pictures: COUNT must be a number from 1 to 100\n";
    return 2;
  }
  try {
    std::filesystem::create_directories(folder);
    for (int n = 1; n <= count; ++n) {
      dorvik_test::WriteSampleJpeg(folder / (prefix + std::to_string(n) + ".jpg"), 640, 400, n);
    }
  } catch (const std::exception& e) {
    std::cerr << "make-sample-pictures: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
