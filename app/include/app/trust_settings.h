// Which publishers the installer trusts: the settings values "TrustedKeys"
// (public keys in minisign's one-line form, as `minisign -P` takes them,
// separated by blanks, commas, semicolons or line breaks) and
// "RequireSignature" ("1" or "0"), which an admin sets once for every run,
// together with what the command line adds.
#pragma once

#include <string>

#include "core/services.h"
#include "signing/distribution_signature.h"

namespace dorvik {

struct TrustSettingsResult {
  signing::TrustSettings trust;
  // Not empty when a value cannot be used (code page 1251). The installer
  // then refuses every distribution: an admin who meant to trust a key must
  // not get an installer that trusts nothing and checks nothing.
  std::string failure;
};

TrustSettingsResult LoadTrustSettings(SettingsStore& store);

// Adds the keys and the demand of `extra` (the command line) to `into`.
void MergeTrust(signing::TrustSettings& into, const signing::TrustSettings& extra);

}  // namespace dorvik
