#include "dialogs/animation_widget.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>

namespace dorvik {

namespace {

constexpr int kFrameMs = 70;
constexpr int kFramesPerCycle = 36;

void DrawFolder(QPainter& p, QRectF r) {
  p.setPen(QPen(QColor(120, 90, 0), 1));
  p.setBrush(QColor(240, 200, 60));
  QPainterPath tab;
  tab.addRoundedRect(QRectF(r.left(), r.top(), r.width() * 0.45, r.height() * 0.3), 2, 2);
  p.drawPath(tab);
  p.setBrush(QColor(250, 215, 90));
  p.drawRoundedRect(QRectF(r.left(), r.top() + r.height() * 0.18, r.width(), r.height() * 0.82), 2, 2);
}

void DrawComputer(QPainter& p, QRectF r) {
  p.setPen(QPen(QColor(60, 60, 60), 1));
  p.setBrush(QColor(200, 200, 200));
  const QRectF screen(r.left(), r.top(), r.width(), r.height() * 0.72);
  p.drawRect(screen);
  p.setBrush(QColor(0, 90, 160));
  p.drawRect(screen.adjusted(3, 3, -3, -3));
  p.setBrush(QColor(170, 170, 170));
  p.drawRect(
      QRectF(r.center().x() - r.width() * 0.25, r.bottom() - r.height() * 0.16, r.width() * 0.5, r.height() * 0.16));
}

void DrawMagnifier(QPainter& p, QPointF centre, double radius) {
  p.setBrush(QColor(200, 230, 255, 150));
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.drawEllipse(centre, radius, radius);
  const double d = radius / std::numbers::sqrt2;
  p.setPen(QPen(QColor(90, 50, 20), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(centre.x() + d, centre.y() + d), QPointF(centre.x() + d * 2.2, centre.y() + d * 2.2));
}

void DrawSheet(QPainter& p, QPointF centre) {
  p.setPen(QPen(QColor(80, 80, 80), 1));
  p.setBrush(Qt::white);
  const QRectF sheet(centre.x() - 6, centre.y() - 8, 12, 16);
  p.drawRect(sheet);
  p.setPen(QPen(QColor(150, 150, 150), 1));
  for (int i = 1; i <= 3; ++i)
    p.drawLine(QPointF(sheet.left() + 2, sheet.top() + 4 * i), QPointF(sheet.right() - 2, sheet.top() + 4 * i));
}

}  // namespace

AnimationWidget::AnimationWidget(QWidget* parent) : QWidget(parent) {
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    frame_ = (frame_ + 1) % kFramesPerCycle;
    update();
  });
}

void AnimationWidget::SetKind(Animation kind) {
  kind_ = kind;
  frame_ = 0;
  if (kind == Animation::None) {
    timer_.stop();
  } else {
    timer_.start();
  }
  update();
}

void AnimationWidget::paintEvent(QPaintEvent*) {
  if (kind_ == Animation::None) return;
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const double phase = 2 * std::numbers::pi * frame_ / kFramesPerCycle;
  const double h = height();
  const QRectF centreBox(width() / 2.0 - h * 0.6, h * 0.12, h * 1.2, h * 0.8);
  switch (kind_) {
    case Animation::FindFolder:
      DrawFolder(p, centreBox);
      DrawMagnifier(p,
                    QPointF(centreBox.center().x() + std::cos(phase) * h * 0.35,
                            centreBox.center().y() + std::sin(phase) * h * 0.15),
                    h * 0.18);
      break;
    case Animation::FindComputer:
      DrawComputer(p, centreBox);
      DrawMagnifier(p,
                    QPointF(centreBox.center().x() + std::cos(phase) * h * 0.45,
                            centreBox.center().y() - h * 0.05 + std::sin(phase) * h * 0.12),
                    h * 0.18);
      break;
    case Animation::CopyFiles: {
      const QRectF from(width() * 0.12, h * 0.35, h * 0.8, h * 0.55);
      const QRectF to(width() * 0.88 - h * 0.8, h * 0.35, h * 0.8, h * 0.55);
      DrawFolder(p, from);
      DrawFolder(p, to);
      const double t = static_cast<double>(frame_) / kFramesPerCycle;
      const double x = from.center().x() + (to.center().x() - from.center().x()) * t;
      const double y = from.top() - std::sin(t * std::numbers::pi) * h * 0.3;
      DrawSheet(p, QPointF(x, y + 6));
      break;
    }
    case Animation::None:
      break;
  }
}

SpinnerWidget::SpinnerWidget(QWidget* parent) : QWidget(parent) {
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    frame_ = (frame_ + 1) % 12;
    update();
  });
  timer_.start();
}

void SpinnerWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(width() / 2.0, height() / 2.0);
  const double outer = std::min(width(), height()) / 2.0 - 1;
  for (int i = 0; i < 12; ++i) {
    const int age = (frame_ - i + 12) % 12;
    p.setPen(QPen(QColor(0, 80, 160, 255 - age * 18), 2.5, Qt::SolidLine, Qt::RoundCap));
    const double a = 2 * std::numbers::pi * i / 12;
    p.drawLine(QPointF(centre.x() + std::cos(a) * outer * 0.45, centre.y() + std::sin(a) * outer * 0.45),
               QPointF(centre.x() + std::cos(a) * outer, centre.y() + std::sin(a) * outer));
  }
}

}  // namespace dorvik
