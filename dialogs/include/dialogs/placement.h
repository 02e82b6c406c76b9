// Where the program's dialogs open: over the wizard, or clear of the
// progress window so that the stage text and the gauge stay in view.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

namespace dorvik {

// Moves `dialog` so that it is centred on `anchor` (a window), kept inside
// the anchor's screen.
void CentreOn(QWidget* dialog, const QWidget* anchor);

// The top-left corner for a window of `size` that must leave `keepVisible`
// uncovered inside `area` (the screen): centred across `keepVisible` in the
// middle of the free part of `area` above it, else below it, else at the top
// of `area` when neither part is high enough.
QPoint PlaceClearOf(QSize size, const QRect& keepVisible, const QRect& area);

// Moves `dialog` clear of `keepVisible` on its screen (PlaceClearOf); does
// nothing when `keepVisible` is empty.
void MoveClearOf(QWidget* dialog, const QRect& keepVisible);

}  // namespace dorvik
