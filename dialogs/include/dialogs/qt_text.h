// Texts crossing between the core (code page 1251 bytes) and the windows
// (QString).
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace dorvik {

// A code page 1251 text as a QString; a byte without a character shows as
// the replacement character.
QString FromCore(std::string_view text);
// A QString as code page 1251 bytes; throws TextConversionError for a
// character the code page lacks.
std::string ToCore(const QString& text);

}  // namespace dorvik
