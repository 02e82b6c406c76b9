#include "signed_folder.h"

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace reader_bench {

namespace fs = std::filesystem;

const fs::path& SignedFolder(const fs::path& dataFile) {
  static std::map<fs::path, fs::path> folders;
  auto it = folders.find(dataFile);
  if (it != folders.end()) return it->second;
  // Beside the data file, in the generator's temporary folder.
  const fs::path folder = dataFile.parent_path() / (dataFile.stem().string() + "-signed");
  fs::create_directories(folder);
  fs::create_symlink(dataFile, folder / "dorpack.dat");
  const auto pair = dorvik::signing::GenerateKeyPair();
  dorvik::signing::SignDistribution(folder, pair.secretKey, "benchmark");
  std::ofstream(folder / "publisher.pub", std::ios::binary) << dorvik::signing::FormatPublicKey(pair.publicKey);
  return folders.emplace(dataFile, folder).first->second;
}

dorvik::signing::SignatureState CheckSignedFolder(const fs::path& folder) {
  std::ifstream in(folder / "publisher.pub", std::ios::binary);
  std::stringstream key;
  key << in.rdbuf();
  dorvik::signing::TrustSettings trust;
  trust.trustedKeys.push_back(dorvik::signing::ParsePublicKey(key.str()));
  return dorvik::signing::CheckDistributionSignature(folder, {"dorpack.dat"}, trust);
}

}  // namespace reader_bench
