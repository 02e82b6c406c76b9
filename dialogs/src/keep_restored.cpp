#include "dialogs/keep_restored.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>

namespace dorvik {

namespace {

class RestoreWhenMinimised : public QObject {
 public:
  explicit RestoreWhenMinimised(QWidget* window) : QObject(window), window_(window) {}

 protected:
  bool eventFilter(QObject* target, QEvent* event) override {
    if (target == window_ && event->type() == QEvent::WindowStateChange && window_->isMinimized()) {
      // After the window manager has finished with the state change.
      QTimer::singleShot(0, window_, [w = window_] {
        if (!w || !w->isVisible() || !w->isMinimized()) return;
        w->showNormal();
        w->raise();
        w->activateWindow();
      });
    }
    return false;
  }

 private:
  QPointer<QWidget> window_;
};

}  // namespace

void KeepRestored(QWidget* window) { window->installEventFilter(new RestoreWhenMinimised(window)); }

}  // namespace dorvik
