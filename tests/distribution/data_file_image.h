// Builds data file images byte by byte for the reader's tests, independent of
// the packer, so that a fault shared by both cannot hide.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "distribution/funcs.h"

namespace dorvik::testing {

class DataFileImage {
 public:
  explicit DataFileImage(std::uint8_t key) : key_(key) {
    bytes_.push_back('\x01');
    bytes_.push_back(static_cast<char>(key));
  }

  DataFileImage& Field(const std::string& plain) {
    bytes_ += plain;
    bytes_ += '\r';
    return *this;
  }
  DataFileImage& Header(const std::string& product, const std::string& version, const std::string& date) {
    return Field(product).Field(version).Field(date);
  }
  // Appends plain bytes in their stored form, with no separator.
  DataFileImage& Encoded(const std::string& plain) {
    for (char c : plain) bytes_.push_back(static_cast<char>(EncodeByte(static_cast<std::uint8_t>(c), key_)));
    return *this;
  }
  DataFileImage& Record(const std::string& plain) { return Encoded(plain + "\r"); }
  DataFileImage& Routine(const std::string& name, const std::vector<std::string>& lines) {
    std::string plain = name + "\n";
    for (const auto& l : lines) plain += l + "\n";
    return Record(plain);
  }
  DataFileImage& Raw(const std::string& bytes) {
    bytes_ += bytes;
    return *this;
  }

  const std::string& Bytes() const { return bytes_; }

  void Write(const std::filesystem::path& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
  }

 private:
  std::uint8_t key_;
  std::string bytes_;
};

}  // namespace dorvik::testing
