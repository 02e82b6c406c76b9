// Decoding the distribution's JPEG pictures with libjpeg.
#pragma once

#include <QImage>
#include <filesystem>

namespace dorvik {

// The picture in `file` as an RGB image. Throws std::runtime_error naming
// the file and libjpeg's reason when it cannot be read or decoded.
QImage DecodeJpegFile(const std::filesystem::path& file);

}  // namespace dorvik
