// The program's own message box: a message, buttons made from a list of
// captions separated by "_", an optional icon and an optional Esc result.
// The window sizes itself to the message and the captions.
#pragma once

#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRect>
#include <vector>

#include "core/ui.h"

namespace dorvik {

struct KelboxGeometry {
  int windowWidth = 257;
  int windowHeight = 85;
  int buttonWidth = 0;
  int textLeftMargin = 20;
  int iconWidth = 0;
  int topHeight = 35;
  int labelHeight = 13;
  std::vector<QRect> buttons;
  std::vector<QString> captions;
};

// The window's size and its buttons' places for the request, measured with
// `metrics`; `iconShown` when the icon file exists.
KelboxGeometry ComputeKelboxGeometry(const KelboxRequest& request, const QFontMetrics& metrics, bool iconShown);

class TfmBox : public QDialog {
  Q_OBJECT

 public:
  explicit TfmBox(QWidget* parent = nullptr);
  // Applies the request: caption, message, icon, size and buttons.
  void Prepare(const KelboxRequest& request);
  const KelboxGeometry& Geometry() const { return geometry_; }
  const std::vector<QPushButton*>& Buttons() const { return buttons_; }

  QWidget* pnTop;
  QWidget* pnImages;
  QLabel* imIcon;
  QWidget* pnMes;
  QLabel* lbMes;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  KelboxGeometry geometry_;
  std::vector<QPushButton*> buttons_;
  int escResult_ = 0;
  bool finishing_ = false;
};

// Shows the box modally; answers the number of the button pressed (1 for
// the first) or the Esc result. Any failure comes out as std::runtime_error
// "RunKelbox Error " + its reason. With `keepVisible` (a screen rectangle,
// the progress window) the box opens clear of it.
int RunKelbox(const KelboxRequest& request, QWidget* parent = nullptr, const QRect& keepVisible = QRect());

}  // namespace dorvik
