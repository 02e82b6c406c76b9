#include "decor.h"

#include <QLinearGradient>
#include <QPainter>

namespace dorvik {

namespace {

// A database drum: the picture of the server the wizard installs into.
void DrawDrum(QPainter& p, QRectF r, const QColor& body) {
  const double lid = r.height() * 0.22;
  p.setPen(QPen(body.darker(160), 1.5));
  for (int layer = 2; layer >= 0; --layer) {
    const QRectF slice(r.left(), r.top() + layer * (r.height() - lid) / 3, r.width(), (r.height() - lid) / 3 + lid);
    p.setBrush(body.lighter(100 + layer * 12));
    p.drawRect(QRectF(slice.left(), slice.top() + lid / 2, slice.width(), slice.height() - lid));
    p.drawEllipse(QRectF(slice.left(), slice.bottom() - lid, slice.width(), lid));
  }
  p.setBrush(body.lighter(150));
  p.drawEllipse(QRectF(r.left(), r.top(), r.width(), lid));
}

}  // namespace

QPixmap SidePicture(int width, int height) {
  QPixmap picture(width, height);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, height);
  sky.setColorAt(0, QColor(0, 70, 110));
  sky.setColorAt(1, QColor(0, 150, 150));
  p.fillRect(picture.rect(), sky);
  DrawDrum(p, QRectF(width * 0.2, height * 0.42, width * 0.6, height * 0.3), QColor(210, 170, 40));
  p.setPen(Qt::white);
  QFont font;
  font.setPixelSize(22);
  font.setBold(true);
  font.setItalic(true);
  p.setFont(font);
  p.drawText(QRectF(0, height * 0.08, width, 30), Qt::AlignCenter, "Velmora");
  font.setPixelSize(11);
  font.setBold(false);
  p.setFont(font);
  p.drawText(QRectF(0, height * 0.08 + 28, width, 20), Qt::AlignCenter, "Installation Wizard");
  return picture;
}

QPixmap WelcomePicture(int size) {
  QPixmap picture(size, size);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  DrawDrum(p, QRectF(size * 0.15, size * 0.1, size * 0.7, size * 0.8), QColor(0, 128, 128));
  return picture;
}

}  // namespace dorvik
