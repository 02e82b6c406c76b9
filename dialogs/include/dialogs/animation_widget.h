// The progress window's moving pictures, drawn by the widget itself on a
// timer: searching a folder, searching the network for a computer, copying
// files, and a small spinner.
#pragma once

#include <QTimer>
#include <QWidget>

#include "core/ui.h"

namespace dorvik {

class AnimationWidget : public QWidget {
 public:
  explicit AnimationWidget(QWidget* parent = nullptr);
  // Shows the kind and starts it; None stops and clears the picture.
  void SetKind(Animation kind);
  Animation Kind() const { return kind_; }
  bool IsRunning() const { return timer_.isActive(); }
  int Frame() const { return frame_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Animation kind_ = Animation::None;
  int frame_ = 0;
  QTimer timer_;
};

class SpinnerWidget : public QWidget {
 public:
  explicit SpinnerWidget(QWidget* parent = nullptr);
  int Frame() const { return frame_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int frame_ = 0;
  QTimer timer_;
};

}  // namespace dorvik
