#include "dialogs/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace dorvik {

namespace {

QRect ScreenArea(const QWidget* w) {
  QScreen* screen = w != nullptr && w->screen() != nullptr ? w->screen() : QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

QPoint KeptInside(QPoint at, QSize size, const QRect& area) {
  const int x = std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - size.width()));
  const int y = std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
  return {x, y};
}

}  // namespace

void CentreOn(QWidget* dialog, const QWidget* anchor) {
  if (dialog == nullptr) return;
  const QRect around = anchor != nullptr ? anchor->frameGeometry() : ScreenArea(dialog);
  const QSize size = dialog->frameGeometry().size();
  const QPoint at = around.center() - QPoint(size.width() / 2, size.height() / 2);
  dialog->move(KeptInside(at, size, ScreenArea(anchor != nullptr ? anchor : dialog)));
}

QPoint PlaceClearOf(QSize size, const QRect& keepVisible, const QRect& area) {
  const int x = keepVisible.center().x() - size.width() / 2;
  const int above = keepVisible.top() - area.top();
  const int below = area.bottom() - keepVisible.bottom();
  int y = area.top();
  if (above >= size.height()) {
    y = area.top() + (above - size.height()) / 2;
  } else if (below >= size.height()) {
    y = keepVisible.bottom() + 1 + (below - size.height()) / 2;
  }
  return KeptInside({x, y}, size, area);
}

void MoveClearOf(QWidget* dialog, const QRect& keepVisible) {
  if (dialog == nullptr || keepVisible.isEmpty()) return;
  // The frame is known only once a window manager has drawn it; until then
  // a title bar's height is allowed for.
  QSize size = dialog->frameGeometry().size();
  if (size == dialog->size()) size.rheight() += 32;
  dialog->move(PlaceClearOf(size, keepVisible, ScreenArea(dialog)));
}

}  // namespace dorvik
