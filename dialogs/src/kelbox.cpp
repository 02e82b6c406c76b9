#include "dialogs/kelbox.h"

#include <QCloseEvent>
#include <QImageReader>
#include <QKeyEvent>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "core/whole_number.h"
#include "dialogs/keep_restored.h"
#include "dialogs/placement.h"
#include "dialogs/qt_text.h"
#include "distribution/funcs.h"

namespace dorvik {

namespace {

constexpr char kSeparator = '_';
constexpr int kMargin = 20;
constexpr int kGap = 5;
constexpr int kButtonTop = 50;
constexpr int kButtonHeight = 25;
constexpr int kMinButtonWidth = 40;
constexpr int kIconPanelWidth = 50;
constexpr int kIconGrowth = 15;

bool IconFileExists(const std::string& file) {
  std::error_code ec;
  return !file.empty() && std::filesystem::exists(std::filesystem::path(file), ec);
}

}  // namespace

KelboxGeometry ComputeKelboxGeometry(const KelboxRequest& request, const QFontMetrics& metrics, bool iconShown) {
  KelboxGeometry g;
  if (iconShown) {
    g.iconWidth = kIconPanelWidth;
    g.textLeftMargin += kIconPanelWidth;
    g.topHeight += kIconGrowth;
    g.labelHeight += kIconGrowth;
  }
  const int textWidth = metrics.horizontalAdvance(FromCore(request.message)) + g.textLeftMargin + kMargin;

  const int count = CountChar(request.buttons, kSeparator) + 1;
  for (int k = 1; k <= count; ++k) g.captions.push_back(FromCore(Piece(request.buttons, kSeparator, k)));
  if (request.buttonWidth > 0) {
    g.buttonWidth = std::max(request.buttonWidth, kMinButtonWidth);
  } else {
    int widest = kMinButtonWidth;
    for (const QString& caption : g.captions) widest = std::max(widest, metrics.horizontalAdvance(caption));
    g.buttonWidth = widest + 10;
  }
  const int rowWidth = count * (g.buttonWidth + kGap) - kGap + kMargin + kMargin;
  g.windowWidth = std::max(textWidth, rowWidth);

  const int firstLeft = (g.windowWidth - rowWidth) / 2 + kMargin;
  for (int k = 0; k < count; ++k) {
    g.buttons.emplace_back(firstLeft + k * (g.buttonWidth + kGap), kButtonTop, g.buttonWidth, kButtonHeight);
  }
  return g;
}

// Only a close button among the title-bar buttons: X11 window managers
// take the window's allowed functions from its hints only when at least one
// button is named, and would otherwise offer minimise and maximise too.
TfmBox::TfmBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("fmBox");
  KeepRestored(this);
  setWindowTitle(QString::fromUtf8("Сообщение"));
  resize(257, 85);
  pnTop = new QWidget(this);
  pnImages = new QWidget(pnTop);
  imIcon = new QLabel(pnImages);
  imIcon->setAlignment(Qt::AlignCenter);
  imIcon->setTextFormat(Qt::PlainText);
  pnMes = new QWidget(pnTop);
  lbMes = new QLabel(pnMes);
  lbMes->setObjectName("lbMes");
  lbMes->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
  lbMes->setTextFormat(Qt::PlainText);
}

void TfmBox::Prepare(const KelboxRequest& request) {
  // Taken with the other parameters: a focus button that is not a number
  // fails before anything is shown.
  const int focus = request.focusButtonText ? ParseWholeNumber(*request.focusButtonText) : request.focusButton;
  if (!request.caption.empty()) setWindowTitle(FromCore(request.caption));
  lbMes->setText(FromCore(request.message));
  escResult_ = request.escResult;

  const bool iconShown = IconFileExists(request.iconFile);
  if (iconShown) {
    QImageReader reader(QString::fromStdString(request.iconFile));
    const QImage icon = reader.read();
    if (icon.isNull()) throw std::runtime_error(request.iconFile + ": " + reader.errorString().toStdString());
    imIcon->setPixmap(QPixmap::fromImage(icon));
  }
  geometry_ = ComputeKelboxGeometry(request, lbMes->fontMetrics(), iconShown);
  const KelboxGeometry& g = geometry_;

  setFixedSize(g.windowWidth, g.windowHeight);
  // The label is at least one line of the font high, so larger fonts are
  // not cut.
  const int labelHeight = std::max(g.labelHeight, lbMes->fontMetrics().height());
  const int topHeight = std::max(g.topHeight, labelHeight);
  pnTop->setGeometry(0, 0, g.windowWidth, topHeight);
  pnImages->setGeometry(0, 0, g.iconWidth, topHeight);
  imIcon->setGeometry(0, 0, g.iconWidth, topHeight);
  pnMes->setGeometry(g.iconWidth, 0, g.windowWidth - g.iconWidth, topHeight);
  lbMes->setGeometry(0, topHeight - labelHeight, pnMes->width(), labelHeight);

  for (std::size_t k = 0; k < g.buttons.size(); ++k) {
    auto* button = new QPushButton(g.captions[k], this);
    button->setObjectName(QString("btKel%1").arg(k + 1));
    button->setGeometry(g.buttons[k]);
    button->setAutoDefault(true);
    const int result = static_cast<int>(k) + 1;
    connect(button, &QPushButton::clicked, this, [this, result] {
      finishing_ = true;
      done(result);
    });
    buttons_.push_back(button);
  }
  if (focus >= 1 && focus <= static_cast<int>(buttons_.size())) {
    buttons_[static_cast<std::size_t>(focus - 1)]->setDefault(true);
    buttons_[static_cast<std::size_t>(focus - 1)]->setFocus();
  }
}

void TfmBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    if (escResult_ > 0) {
      finishing_ = true;
      done(escResult_);
    }
    return;
  }
  QDialog::keyPressEvent(event);
}

// Closing the box (its title-bar button, where the window manager shows
// one) is Esc: it answers the Esc result, and does nothing when Esc does
// nothing.
void TfmBox::closeEvent(QCloseEvent* event) {
  if (finishing_) return;
  if (escResult_ > 0) {
    finishing_ = true;
    done(escResult_);
    return;
  }
  event->ignore();
}

int RunKelbox(const KelboxRequest& request, QWidget* parent, const QRect& keepVisible) {
  try {
    auto box = std::make_unique<TfmBox>(parent);
    box->Prepare(request);
    MoveClearOf(box.get(), keepVisible);
    return box->exec();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("RunKelbox Error ") + e.what());
  }
}

}  // namespace dorvik
