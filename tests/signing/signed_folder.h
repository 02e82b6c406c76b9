// A distribution folder for the signing tests: a data file, a licence, a
// readme and two pictures, signed with a fresh key.
#pragma once

#include <filesystem>
#include <string>

#include "signing/distribution_signature.h"

namespace dorvik::signing::testing {

class SignedFolder {
 public:
  explicit SignedFolder(const std::string& name);
  ~SignedFolder();
  SignedFolder(const SignedFolder&) = delete;
  SignedFolder& operator=(const SignedFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  const KeyPair& Key() const { return key_; }
  // The names the installer reads from this folder as it stands.
  std::vector<std::string> FilesRead() const;
  // The folder's signature checked with the key trusted.
  SignatureState CheckTrusted() const;

 private:
  std::filesystem::path path_;
  KeyPair key_;
};

std::string ReadBytes(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, const std::string& bytes);

}  // namespace dorvik::signing::testing
