// Texts between the installer (code page 1251) and the terminal, the
// arguments and the answers file (the locale's encoding).
#pragma once

#include <string>
#include <string_view>

namespace dorvik::cli {

class LocaleText {
 public:
  // The encoding of the current C locale (call setlocale first).
  LocaleText();
  explicit LocaleText(std::string codeset) : codeset_(std::move(codeset)) {}

  const std::string& Codeset() const { return codeset_; }

  // For showing: a character the locale cannot hold becomes "?".
  std::string Show(std::string_view cp1251) const;
  // For taking in: throws TextConversionError when a character has no
  // counterpart in code page 1251.
  std::string Take(std::string_view localText) const;

 private:
  std::string codeset_;
};

}  // namespace dorvik::cli
