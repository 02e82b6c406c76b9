#include "dialogs/progress.h"

#include <QKeyEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>

#include "dialogs/keep_restored.h"

namespace dorvik {

namespace {

constexpr int kDesignHeight = 244;
constexpr int kTimeRightEdge = 291 + 33;
constexpr int kAfterPanelHeight = 124;

}  // namespace

TfmProgress::TfmProgress(std::atomic<bool>& userAbort)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), userAbort_(userAbort) {
  setObjectName("fmProgress");
  KeepRestored(this);
  setCursor(Qt::WaitCursor);
  setFocusPolicy(Qt::StrongFocus);
  resize(kDesignWidth, kDesignHeight);

  panel_ = new QFrame(this);
  panel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel_->setLineWidth(2);

  Ani = new AnimationWidget(this);
  Ani->setObjectName("Ani");
  Ani->setGeometry(14, 5, 272, 46);

  // The labels show their texts as they are (names from the distribution
  // and the server are not markup).
  lbMes = new QLabel("lbMes", this);
  lbMes->setObjectName("lbMes");
  lbMes->setTextFormat(Qt::PlainText);
  lbMes->move(12, 64);
  lbMes->adjustSize();

  gaP = new QProgressBar(this);
  gaP->setObjectName("gaP");
  gaP->setGeometry(12, 79, 313, 20);
  gaP->setRange(0, 100);
  gaP->setValue(0);
  gaP->setTextVisible(true);
  gaP->setFormat("%p%");
  gaP->setAlignment(Qt::AlignCenter);
  QPalette bar = gaP->palette();
  bar.setColor(QPalette::Highlight, QColor(0, 0, 160));
  gaP->setPalette(bar);

  lbElement = new QLabel(QString::fromUtf8("Элемент"), this);
  lbElement->setObjectName("lbElement");
  lbElement->setTextFormat(Qt::PlainText);
  lbElement->move(14, 101);
  lbElement->adjustSize();

  lbTime = new QLabel(QString::fromUtf8("Время"), this);
  lbTime->setObjectName("lbTime");
  lbTime->setTextFormat(Qt::PlainText);
  lbTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lbTime->hide();
  PlaceTimeLabel();

  // The acknowledgement of Esc, beside the stage text; the full sentence is
  // its tool tip.
  lbAbort = new QLabel(QString::fromUtf8("Остановка после шага"), this);
  lbAbort->setObjectName("lbAbort");
  lbAbort->setTextFormat(Qt::PlainText);
  lbAbort->setToolTip(QString::fromUtf8("Запрос на прерывание принят: вопрос будет задан после текущего шага"));
  QPalette warning = lbAbort->palette();
  warning.setColor(QPalette::WindowText, QColor(160, 0, 0));
  lbAbort->setPalette(warning);
  lbAbort->adjustSize();
  lbAbort->hide();

  ani2 = new SpinnerWidget(this);
  ani2->setObjectName("ani2");
  ani2->setGeometry(288, 48, 30, 30);
  ani2->hide();

  pnAfter = new QFrame(this);
  pnAfter->setObjectName("pnAfter");
  pnAfter->setFrameStyle(QFrame::Box | QFrame::Sunken);
  pnAfter->hide();
  sbAfter = new QScrollArea(pnAfter);
  sbAfter->setObjectName("sbAfter");
  sbAfter->setFrameShape(QFrame::NoFrame);
  sbAfter->setGeometry(3, 3, 326, 118);
  sbAfter->setWidgetResizable(false);
  lbAfter = new QLabel(sbAfter);
  lbAfter->setObjectName("lbAfter");
  lbAfter->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lbAfter->setTextFormat(Qt::PlainText);
  sbAfter->setWidget(lbAfter);
  lbAfter->adjustSize();

  // Created at the compact height in the middle of the screen, which the
  // full-screen main window covers; that place is remembered.
  resize(kDesignWidth, 80);
  LayoutPanels();
  CentreOnMainWindow();
  position_at_ = pos();
}

void TfmProgress::resizeEvent(QResizeEvent*) { LayoutPanels(); }

// The panels follow the window's size; called directly as well, since a
// hidden window gets its resize event only when it is shown.
void TfmProgress::LayoutPanels() {
  panel_->setGeometry(0, 0, width(), height());
  pnAfter->setGeometry(2, height() - 2 - kAfterPanelHeight, width() - 4, kAfterPanelHeight);
  if (!afterFrozen_) sbAfter->setGeometry(3, 3, pnAfter->width() - 6, pnAfter->height() - 6);
}

void TfmProgress::SetStage(const QString& text) {
  lbMes->setText(text);
  lbMes->adjustSize();
  PlaceAbortNotice();
}

void TfmProgress::AcceptAbortRequests(bool on) {
  abortAccepted_ = on;
  if (on && userAbort_) {
    PlaceAbortNotice();
    lbAbort->show();
  } else if (!on) {
    lbAbort->hide();
  }
}

void TfmProgress::RequestAbort() {
  userAbort_ = true;
  if (!abortAccepted_) return;
  PlaceAbortNotice();
  lbAbort->show();
  lbAbort->repaint();
}

void TfmProgress::ClearAbortNotice() { lbAbort->hide(); }

// After the stage text, at the right end of the gauge's width when there is room.
void TfmProgress::PlaceAbortNotice() {
  const int right = gaP->geometry().right();
  const int left = std::max(lbMes->geometry().right() + 6, right + 1 - lbAbort->width());
  lbAbort->move(left, lbMes->y());
}

void TfmProgress::SetAnimation(Animation kind) { Ani->SetKind(kind); }

void TfmProgress::SetElement(const QString& text) {
  lbElement->setText(text);
  lbElement->adjustSize();
}

void TfmProgress::SetProgressMax(int max) {
  max_ = std::max(0, max);
  gaP->setMaximum(max_);
  SetProgress(position_);
}

void TfmProgress::SetProgress(int position) {
  position_ = std::clamp(position, 0, max_.load());
  gaP->setValue(position_);
}

void TfmProgress::SetTimeText(const QString& text) {
  lbTime->setText(text);
  PlaceTimeLabel();
}

void TfmProgress::SetTimeVisible(bool visible) { lbTime->setVisible(visible); }

void TfmProgress::SetGaugeVisible(bool visible) { gaP->setVisible(visible); }

// The time text is anchored at the right of the gauge, or after the
// post-action switch at the left where the element name was.
void TfmProgress::PlaceTimeLabel() {
  const int textWidth = lbTime->fontMetrics().horizontalAdvance(lbTime->text()) + 2;
  const int h = lbTime->fontMetrics().height();
  if (postActionMode_) {
    lbTime->setGeometry(lbElement->x(), 102, std::max(33, textWidth), h);
  } else {
    const int w = std::max(33, textWidth);
    lbTime->setGeometry(kTimeRightEdge - w, 102, w, h);
  }
}

void TfmProgress::SetProgressHeight(int h) {
  resize(width(), h);
  LayoutPanels();
}

void TfmProgress::SetStayOnTop(bool on) {
  if (IsStayOnTop() == on) return;
  const bool wasVisible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);
  if (wasVisible) show();
}

bool TfmProgress::IsStayOnTop() const { return windowFlags().testFlag(Qt::WindowStaysOnTopHint); }

void TfmProgress::CentreOnMainWindow() {
  QScreen* display = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  const QRect area = main_ ? main_->frameGeometry() : (display ? display->availableGeometry() : QRect(0, 0, 1024, 768));
  move(area.center() - QPoint(width() / 2, height() / 2));
}

void TfmProgress::EnterPostActionMode() {
  postActionMode_ = true;
  lbTime->setText(QString());
  lbTime->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  PlaceTimeLabel();
  lbTime->show();
  lbElement->hide();
  resize(kPostActionWidth, 245);
  LayoutPanels();
  const int widening = kPostActionWidth - kWideningReference;
  gaP->resize(313 + widening, gaP->height());
  ani2->move(288 + widening, ani2->y());
  Ani->hide();
  ani2->show();
  CentreOnMainWindow();
  // From here the scroll box keeps its size whatever the window does.
  afterFrozen_ = true;
  pnAfter->show();
}

void TfmProgress::AppendAfterLine(const QString& text) {
  after_ = after_.isEmpty() ? text : after_ + QChar('\r') + text;
  QString shown = after_;
  shown.replace(QChar('\r'), QChar('\n'));
  lbAfter->setText(shown);
  lbAfter->adjustSize();
  sbAfter->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QScrollBar* bar = sbAfter->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void TfmProgress::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    RequestAbort();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace dorvik
