#include "signed_folder.h"

#include <fstream>
#include <random>
#include <sstream>

namespace dorvik::signing::testing {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

SignedFolder::SignedFolder(const std::string& name) : key_(GenerateKeyPair()) {
  std::random_device rd;
  path_ = fs::temp_directory_path() / ("signing-test-" + name + "-" + std::to_string(rd()));
  fs::create_directories(path_ / "IMAGES");
  std::string data(5000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
  WriteBytes(path_ / "dorpack.dat", data);
  WriteBytes(path_ / "licence.txt", "Licence\r\n");
  WriteBytes(path_ / "readme.txt", "Readme\r\n");
  WriteBytes(path_ / "IMAGES" / "p1.jpg", "picture one");
  WriteBytes(path_ / "IMAGES" / "p2.jpg", "picture two");
  SignDistribution(path_, key_.secretKey, "timestamp:1\tfile:dorpack.sums\thashed");
}

SignedFolder::~SignedFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<std::string> SignedFolder::FilesRead() const {
  // What the installer's start-up lists: the three files and the pictures
  // p1, p2, ... as long as they follow each other.
  std::vector<std::string> names;
  for (const char* name : {"dorpack.dat", "licence.txt", "readme.txt"}) {
    if (fs::exists(path_ / name)) names.emplace_back(name);
  }
  for (int n = 1; fs::exists(path_ / "IMAGES" / ("p" + std::to_string(n) + ".jpg")); ++n) {
    names.push_back("IMAGES/p" + std::to_string(n) + ".jpg");
  }
  return names;
}

SignatureState SignedFolder::CheckTrusted() const {
  TrustSettings trust;
  trust.trustedKeys.push_back(key_.publicKey);
  return CheckDistributionSignature(path_, FilesRead(), trust);
}

}  // namespace dorvik::signing::testing
