#include "core/session.h"

#include "distribution/codepage.h"

namespace dorvik {

FileLocations FileLocations::In(const std::filesystem::path& programFolder) {
  FileLocations f;
  f.ProgramFolder = programFolder;
  f.ImagesFolder = programFolder / "IMAGES";
  f.LicencePath = programFolder / "licence.txt";
  f.ReadmePath = programFolder / "readme.txt";
  f.DataFilePath = programFolder / "dorpack.dat";
  f.LogPath = programFolder / "dorvik.txt";
#ifdef _WIN32
  f.FallbackFolder = "C:\\Windows\\Temp";
#else
  std::error_code ec;
  f.FallbackFolder = std::filesystem::temp_directory_path(ec);
  if (ec) f.FallbackFolder = "/tmp";
#endif
  return f;
}

std::filesystem::path FileLocations::ImagePath(int number) const {
  return ImagesFolder / (ImagePrefix + std::to_string(number) + ".jpg");
}

std::string Session::TitlePrefix() const { return Ru("Установка ") + dist.ProductName + " " + dist.Version + ". "; }

}  // namespace dorvik
