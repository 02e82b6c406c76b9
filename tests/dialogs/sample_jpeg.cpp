#include "sample_jpeg.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>
#include <jpeglib.h>

namespace dorvik_test {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void WriteSampleJpeg(const std::filesystem::path& file, int width, int height, int seed) {
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(file.c_str(), "wb"));
  if (!out) throw std::runtime_error("cannot write " + file.string());
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, out.get());
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 85, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
  const double cx = width * (0.3 + 0.1 * (seed % 5));
  const double cy = height * 0.5;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double ring = std::sin(std::hypot(x - cx, y - cy) / (6.0 + seed % 7)) * 0.5 + 0.5;
      unsigned char* px = &row[static_cast<std::size_t>(x) * 3];
      const double u = static_cast<double>(x) / width;
      const double v = static_cast<double>(y) / height;
      px[0] = static_cast<unsigned char>(127 + 120 * std::sin(u * 3.1 + seed));
      px[1] = static_cast<unsigned char>(80 + ring * 120);
      px[2] = static_cast<unsigned char>(127 + 120 * std::cos(v * 2.3 + seed * 0.7));
    }
    JSAMPROW line = row.data();
    jpeg_write_scanlines(&info, &line, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
}

}  // namespace dorvik_test
