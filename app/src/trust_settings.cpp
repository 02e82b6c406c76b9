#include "app/trust_settings.h"

#include "distribution/codepage.h"

namespace dorvik {

TrustSettingsResult LoadTrustSettings(SettingsStore& store) {
  TrustSettingsResult result;
  if (const auto keys = store.Read("TrustedKeys")) {
    std::size_t start = 0;
    while (start < keys->size()) {
      const auto end = std::min(keys->find_first_of(" \t\r\n,;", start), keys->size());
      const std::string word = keys->substr(start, end - start);
      start = end + 1;
      if (word.empty()) continue;
      try {
        result.trust.trustedKeys.push_back(signing::ParsePublicKey(word));
      } catch (const signing::KeyFormatError& e) {
        result.failure = Ru("доверенный ключ в настройках (TrustedKeys) не читается: ") + e.what();
        return result;
      }
    }
  }
  if (const auto require = store.Read("RequireSignature")) {
    if (*require == "1") {
      result.trust.requireSignature = true;
    } else if (!require->empty() && *require != "0") {
      result.failure = Ru("значение RequireSignature в настройках должно быть 1 или 0, а не «") + *require + Ru("»");
    }
  }
  return result;
}

void MergeTrust(signing::TrustSettings& into, const signing::TrustSettings& extra) {
  into.trustedKeys.insert(into.trustedKeys.end(), extra.trustedKeys.begin(), extra.trustedKeys.end());
  into.requireSignature = into.requireSignature || extra.requireSignature;
}

}  // namespace dorvik
