#include "dialogs/qt_text.h"

#include "distribution/codepage.h"

namespace dorvik {

QString FromCore(std::string_view text) { return QString::fromStdString(Cp1251ToUtf8(text)); }

std::string ToCore(const QString& text) { return Utf8ToCp1251(text.toStdString()); }

}  // namespace dorvik
