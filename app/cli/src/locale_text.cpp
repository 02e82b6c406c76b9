#include "locale_text.h"

#include "console.h"
#include "distribution/codepage.h"

namespace dorvik::cli {

LocaleText::LocaleText() : codeset_(LocaleCodeset()) {}

std::string LocaleText::Show(std::string_view cp1251) const {
  try {
    return ConvertText(cp1251, "CP1251", codeset_.c_str());
  } catch (const TextConversionError&) {
  }
  // Character by character, so that one foreign letter does not hide the rest.
  std::string out;
  for (const char c : cp1251) {
    try {
      out += ConvertText(std::string_view(&c, 1), "CP1251", codeset_.c_str());
    } catch (const TextConversionError&) {
      out += '?';
    }
  }
  return out;
}

std::string LocaleText::Take(std::string_view localText) const {
  return ConvertText(localText, codeset_.c_str(), "CP1251");
}

}  // namespace dorvik::cli
