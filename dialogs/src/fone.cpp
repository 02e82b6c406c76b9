#include "dialogs/fone.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPixmap>

#include "dialogs/jpeg_picture.h"
#include "dialogs/progress.h"

namespace dorvik {

namespace {

QLabel* TitleLabel(QWidget* parent, const QColor& colour, const char* name) {
  auto* label = new QLabel("Velmora", parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);  // the product's name as it is
  QFont font;
  font.setFamilies({"Times New Roman", "DejaVu Serif", "serif"});
  font.setPixelSize(37);
  font.setBold(true);
  font.setItalic(true);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  label->setAttribute(Qt::WA_TranslucentBackground);
  return label;
}

bool IsStayOnTop(const QWidget* w) { return w->windowFlags().testFlag(Qt::WindowStaysOnTopHint); }

void BringToFront(QWidget* w) {
  w->show();
  w->raise();
}

}  // namespace

TfmFone::TfmFone(std::atomic<bool>& userAbort) : QWidget(nullptr), userAbort_(userAbort) {
  setObjectName("fmFone");
  setWindowTitle("Velmora Installation Wizard");
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(0, 128, 128));
  setPalette(palette);
  resize(808, 580);

  lbShadow = TitleLabel(this, Qt::black, "lbShadow");
  lbShadow->move(6, 2);
  lbMSH = TitleLabel(this, Qt::white, "lbMSH");
  lbMSH->move(2, -2);

  pnBevel = new QFrame(this);
  pnBevel->setObjectName("pnBevel");
  pnBevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  pnBevel->setLineWidth(3);
  pnBevel->hide();
  Image = new QLabel(pnBevel);
  Image->setObjectName("Image");
  Image->setTextFormat(Qt::PlainText);
  Image->setScaledContents(true);
  SetTitle("Velmora");
  PlaceFrame();
}

void TfmFone::SetCompanions(QWidget* wizard, TfmProgress* progress) {
  wizard_ = wizard;
  progress_ = progress;
}

void TfmFone::SetTitle(const QString& text) {
  for (QLabel* label : {lbShadow, lbMSH}) {
    label->setText(text);
    label->adjustSize();
  }
}

void TfmFone::ShowPicture(const std::filesystem::path& file) {
  const QImage picture = DecodeJpegFile(file);
  Image->setPixmap(QPixmap::fromImage(picture));
  PlaceFrame();
  pnBevel->show();
  pnBevel->raise();
}

// The frame takes the middle eight tenths of the width and seven tenths of
// the height, a tenth below the top; it follows the window's size so that
// it stays centred once the window is maximised.
void TfmFone::resizeEvent(QResizeEvent*) { PlaceFrame(); }

void TfmFone::PlaceFrame() {
  const int w = width();
  const int h = height();
  pnBevel->setGeometry(w / 10, (h / 20) * 2, (w / 10) * 8, (h / 20) * 14);
  const int bevel = pnBevel->lineWidth();
  Image->setGeometry(bevel, bevel, pnBevel->width() - 2 * bevel, pnBevel->height() - 2 * bevel);
}

void TfmFone::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    userAbort_ = true;
    if (progress_) progress_->RequestAbort();  // the acknowledgement, when a stage takes it
    return;
  }
  QWidget::keyPressEvent(event);
}

void TfmFone::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) OnActivate();
  QWidget::changeEvent(event);
}

void TfmFone::closeEvent(QCloseEvent* event) {
  if (onClose_) onClose_();
  QWidget::closeEvent(event);
}

void TfmFone::OnActivate() {
  // A wizard the window manager minimised comes back with the background:
  // the user has no other way to reach it.
  if (wizard_ && wizard_->isVisible() && wizard_->isMinimized()) {
    wizard_->showNormal();
    wizard_->raise();
    wizard_->activateWindow();
  }
  if (!activatedOnce_ && wizard_) {
    activatedOnce_ = true;
    BringToFront(wizard_);
    wizard_->activateWindow();
  }
  if (wizard_ && !IsStayOnTop(wizard_)) BringToFront(wizard_);
  if (progress_ && !IsStayOnTop(progress_)) BringToFront(progress_);
}

}  // namespace dorvik
