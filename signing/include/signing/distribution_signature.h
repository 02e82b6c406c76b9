// The publisher's signature of a distribution folder: what is signed, how a
// folder is signed, and how the installer checks one before it sends
// anything to the server.
//
// Signed is everything the installer reads from the folder: dorpack.dat,
// licence.txt, readme.txt and the pictures in IMAGES. Their SHA-256 sums are
// listed in dorpack.sums (sha256sum's form) and that list is signed in
// minisign's format in dorpack.sums.minisig, so that
//   sha256sum -c dorpack.sums
//   minisign -V -m dorpack.sums -p publisher.pub
// check a distribution by hand. Checking reads each listed file once, in
// blocks; nothing here throws for bad input: a refusal is a state.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "signing/minisign.h"

namespace dorvik::signing {

inline constexpr const char* kSumsFileName = "dorpack.sums";
inline constexpr const char* kSignatureFileName = "dorpack.sums.minisig";

// Which keys the installer trusts (command line and settings together).
struct TrustSettings {
  std::vector<PublicKey> trustedKeys;
  bool requireSignature = false;

  // With a trusted key or the demand for a signature, a distribution that
  // does not pass is refused; otherwise its state is only reported.
  bool Enforced() const { return requireSignature || !trustedKeys.empty(); }
};

enum class SignatureStatus {
  kUnsigned,           // no dorpack.sums.minisig
  kVerifiedTrusted,    // signed by a trusted key, every file as listed
  kVerifiedUntrusted,  // every file as listed; the signer's key is not trusted,
                       // so the signature itself could not be checked
  kRefused,            // see `reason`
};

// One distribution's signature state, plain data for the log, the terminal
// and machine-readable reports.
struct SignatureState {
  SignatureStatus status = SignatureStatus::kUnsigned;
  std::string signerKeyId;               // as minisign shows it; empty when unknown
  std::string trustedComment;            // as signed (minisign writes UTF-8); only when verified by a trusted key
  std::string reason;                    // kRefused: why, in Russian (code page 1251)
  bool blocksInstallation = false;       // kRefused under enforced trust
  std::vector<std::string> listedFiles;  // the names dorpack.sums lists, once it was read
};

// `filesRead` are the names (relative, "/" between folders) of the files
// the installer would read from `folder`; each must be listed.
SignatureState CheckDistributionSignature(const std::filesystem::path& folder,
                                          const std::vector<std::string>& filesRead, const TrustSettings& trust);

// One line (code page 1251) saying who signed and whether it was verified,
// for reports such as `dorvik-cli verify`.
std::string SignatureSummary(const SignatureState& state);

// A stable word for the status, for machine-readable output:
// "unsigned", "verified_trusted", "verified_untrusted" or "refused".
const char* SignatureStatusKey(SignatureStatus status);

// The install log's lines for the state (code page 1251), ending in an empty
// line; none for an unsigned distribution that nothing demanded a signature of.
std::vector<std::string> SignatureLogLines(const SignatureState& state);

// The files of `folder` that a signature covers: dorpack.dat, licence.txt
// and readme.txt where present, and every file in IMAGES, in that order.
std::vector<std::string> FilesToSign(const std::filesystem::path& folder);

// Writes dorpack.sums for FilesToSign and its signature beside it, each
// replaced only when written whole. Answers the names signed. Throws
// KeyFormatError or std::runtime_error (code page 1251) when the folder has
// no dorpack.dat or a file cannot be read or written.
std::vector<std::string> SignDistribution(const std::filesystem::path& folder, const SecretKey& key,
                                          const std::string& trustedComment);

// minisign's trusted comment for a file signed now: timestamp, file name and
// the mark of a prehashed signature.
std::string DefaultTrustedComment(const std::string& fileName);

}  // namespace dorvik::signing
