#include "dialogs/jpeg_picture.h"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace dorvik {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return;
// the standard way out of the C library is a long jump back to the caller.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnFatalError(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, manager->message);
  std::longjmp(manager->jump, 1);
}

void OnWarning(j_common_ptr, int) {}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Everything with a destructor lives outside the function that sets the
// jump point, so the long jump skips no destructor.
bool Decode(std::FILE* in, QImage& image, ErrorManager& errors) {
  jpeg_decompress_struct info{};
  info.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = OnFatalError;
  errors.pub.emit_message = OnWarning;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, in);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB888);
  if (image.isNull()) {
    jpeg_destroy_decompress(&info);
    std::snprintf(errors.message, sizeof errors.message, "the picture is too large (%u x %u)", info.output_width,
                  info.output_height);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

QImage DecodeJpegFile(const std::filesystem::path& file) {
#ifdef _WIN32
  std::unique_ptr<std::FILE, FileCloser> in(_wfopen(file.c_str(), L"rb"));
#else
  std::unique_ptr<std::FILE, FileCloser> in(std::fopen(file.c_str(), "rb"));
#endif
  if (!in) throw std::runtime_error("cannot open the picture " + file.string());
  QImage image;
  ErrorManager errors{};
  if (!Decode(in.get(), image, errors)) {
    throw std::runtime_error("cannot decode the picture " + file.string() + ": " + errors.message);
  }
  return image;
}

}  // namespace dorvik
