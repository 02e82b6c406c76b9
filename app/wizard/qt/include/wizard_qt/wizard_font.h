// The wizard's font: a sans-serif face with Cyrillic letters, 11 pixels
// high, the size its window layouts are drawn for.
#pragma once

#include <QApplication>

namespace dorvik {

inline void ApplyWizardFont(QApplication& app) {
  QFont font;
  font.setFamilies({"DejaVu Sans", "Liberation Sans", "sans-serif"});
  font.setPixelSize(11);
  app.setFont(font);
}

}  // namespace dorvik
