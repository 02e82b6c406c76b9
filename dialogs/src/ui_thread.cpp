#include "dialogs/ui_thread.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QThread>
#include <algorithm>
#include <exception>
#include <memory>
#include <thread>

namespace dorvik {

namespace {

bool OnUiThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Close:
      return true;
    default:
      return false;
  }
}

// Drops user input aimed at the windows that must not act while a blocking
// call runs; Esc still reaches the windows that turn it into UserAbort.
class InputBlocker : public QObject {
 public:
  InputBlocker(const std::vector<QPointer<QWidget>>& blocked, const std::vector<QPointer<QWidget>>& escAllowed)
      : blocked_(blocked), escAllowed_(escAllowed) {}

 protected:
  bool eventFilter(QObject* target, QEvent* event) override {
    if (!IsUserInput(event->type()) || !target->isWidgetType()) return false;
    QWidget* window = static_cast<QWidget*>(target)->window();
    if (!Contains(blocked_, window)) return false;
    if (event->type() == QEvent::KeyPress && Contains(escAllowed_, window) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      return false;
    }
    return true;
  }

 private:
  static bool Contains(const std::vector<QPointer<QWidget>>& list, const QWidget* window) {
    return std::any_of(list.begin(), list.end(), [window](const QPointer<QWidget>& w) { return w == window; });
  }
  std::vector<QPointer<QWidget>> blocked_;
  std::vector<QPointer<QWidget>> escAllowed_;
};

int g_responsiveDepth = 0;

}  // namespace

void RunOnUiThread(const std::function<void()>& fn) {
  if (OnUiThread()) {
    fn();
    return;
  }
  std::exception_ptr failure;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [&] {
        try {
          fn();
        } catch (...) {
          failure = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (failure) std::rethrow_exception(failure);
}

void WaitResponsive(const std::function<void(std::function<void()> finished)>& start,
                    const std::vector<QPointer<QWidget>>& blocked, const std::vector<QPointer<QWidget>>& escAllowed) {
  // The end of the work is delivered as an event to this thread, so the
  // loops below always wake for it, and the flag is only ever touched here.
  struct State {
    bool done = false;
    QEventLoop* loop = nullptr;
  };
  auto state = std::make_shared<State>();
  auto finished = [state] {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [state] {
          state->done = true;
          if (state->loop != nullptr) state->loop->quit();
        },
        Qt::QueuedConnection);
  };
  InputBlocker blocker(blocked, escAllowed);
  QCoreApplication::instance()->installEventFilter(&blocker);
  QEventLoop loop;
  state->loop = &loop;
  ++g_responsiveDepth;
  try {
    start(finished);
  } catch (...) {
    state->loop = nullptr;
    --g_responsiveDepth;
    QCoreApplication::instance()->removeEventFilter(&blocker);
    throw;
  }
  // A request to end the program also ends local loops, and makes new ones
  // return at once; the work may still need this thread until it has
  // finished, so keep serving its calls by hand then.
  while (!state->done) {
    loop.exec();
    if (!state->done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  state->loop = nullptr;
  --g_responsiveDepth;
  QCoreApplication::instance()->removeEventFilter(&blocker);
}

void RunResponsive(const std::function<void()>& work, const std::vector<QPointer<QWidget>>& blocked,
                   const std::vector<QPointer<QWidget>>& escAllowed) {
  if (!OnUiThread()) {
    work();
    return;
  }
  std::exception_ptr failure;
  std::thread worker;
  WaitResponsive(
      [&](std::function<void()> finished) {
        worker = std::thread([&work, &failure, finished = std::move(finished)] {
          try {
            work();
          } catch (...) {
            failure = std::current_exception();
          }
          finished();
        });
      },
      blocked, escAllowed);
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

bool IsRunningResponsive() { return g_responsiveDepth > 0; }

}  // namespace dorvik
