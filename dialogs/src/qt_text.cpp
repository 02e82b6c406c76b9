#include "dialogs/qt_text.h"

#include "distribution/codepage.h"

namespace dorvik {

QString FromCore(std::string_view text) {
  try {
    return QString::fromStdString(Cp1251ToUtf8(text));
  } catch (const TextConversionError&) {
  }
  // The one byte code page 1251 leaves undefined must not hide the rest.
  QString shown;
  for (const char c : text) {
    try {
      shown += QString::fromStdString(Cp1251ToUtf8(std::string_view(&c, 1)));
    } catch (const TextConversionError&) {
      shown += QChar(0xFFFD);
    }
  }
  return shown;
}

std::string ToCore(const QString& text) { return Utf8ToCp1251(text.toStdString()); }

}  // namespace dorvik
