// A blocking call on a worker: the animation keeps moving, input to the
// busy windows is held back except Esc, interface operations from the
// worker reach the windows, and a failure comes back to the caller.
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "dialogs/fone.h"
#include "dialogs/progress.h"
#include "dialogs/qt_ui.h"
#include "dialogs/ui_thread.h"
#include "distribution/codepage.h"
#include "modal_script.h"

using namespace dorvik;
using namespace std::chrono_literals;

class UiThreadTest : public QObject {
  Q_OBJECT

 private slots:
  void AnimationMovesWhileTheCallBlocks() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    TfmFone fone(abort);
    QWidget wizard;
    auto* button = new QPushButton("go", &wizard);
    int clicks = 0;
    connect(button, &QPushButton::clicked, [&] { ++clicks; });
    wizard.show();
    progress.show();
    QVERIFY(QTest::qWaitForWindowExposed(&progress));
    QtInstallerUi ui;
    ui.Attach(&fone, &wizard, &progress);

    int framesBefore = 0;
    int framesAfter = 0;
    RunResponsive(
        [&] {
          ui.SetAnimation(Animation::CopyFiles);
          ui.SetStage(Ru("Соединение с сервером..."));
          RunOnUiThread([&] { framesBefore = progress.Ani->Frame(); });
          // Input arrives while the worker is busy.
          RunOnUiThread([&] {
            QTest::mouseClick(button, Qt::LeftButton);
            QTest::keyClick(&progress, Qt::Key_Escape);
          });
          std::this_thread::sleep_for(600ms);  // a slow server call
          RunOnUiThread([&] { framesAfter = progress.Ani->Frame(); });
        },
        {&wizard, &progress}, {&progress});
    QVERIFY2(framesAfter != framesBefore, "the animation stood still during the call");
    QCOMPARE(clicks, 0);
    QVERIFY(abort.load());
    QCOMPARE(progress.lbMes->text(), QString::fromUtf8("Соединение с сервером..."));
    // After the call input is taken again.
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicks, 1);
  }

  void DialogsFromTheWorkerAreAnswered() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    TfmFone fone(abort);
    QtInstallerUi ui;
    ui.Attach(&fone, nullptr, &progress);
    dorvik_test::ModalScript script;
    script.Then([](QWidget* w) {
      auto* box = static_cast<QMessageBox*>(w);
      QCOMPARE(box->button(QMessageBox::Yes)->text(), QString::fromUtf8("Да"));
      QCOMPARE(box->button(QMessageBox::No)->text(), QString::fromUtf8("Нет"));
      box->button(QMessageBox::No)->click();
    });
    script.Answer(QMessageBox::Yes);
    bool first = true;
    bool second = false;
    RunResponsive(
        [&] {
          first = ui.AskYesNo(Ru("Прервать установку?"), true);
          second = ui.AskYesNo(Ru("Прервать установку?"), true);
        },
        {&progress}, {});
    QVERIFY(!first);
    QVERIFY(second);
    QCOMPARE(script.Seen().front(), QString::fromUtf8("Velmora Installation Wizard|Прервать установку?"));
  }

  void EndingTheProgramMidCallStillServesTheWorker() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    TfmFone fone(abort);
    QtInstallerUi ui;
    ui.Attach(&fone, nullptr, &progress);
    RunResponsive(
        [&] {
          RunOnUiThread([] { QCoreApplication::exit(0); });
          std::this_thread::sleep_for(50ms);
          ui.SetStage("after");  // would wait forever if nobody served it
        },
        {}, {});
    QCOMPARE(progress.lbMes->text(), QString("after"));
  }

  void FailureReachesTheCaller() {
    std::atomic<bool> abort{false};
    TfmFone fone(abort);
    TfmProgress progress(abort);
    QtInstallerUi ui;
    ui.Attach(&fone, nullptr, &progress);
    try {
      RunResponsive([&] { ui.ShowPicture("/nonexistent/p1.jpg"); }, {}, {});
      QFAIL("no failure");
    } catch (const std::runtime_error& e) {
      QVERIFY(QString(e.what()).contains("p1.jpg"));
    }
  }
};

DORVIK_QT_TEST_MAIN(UiThreadTest)
#include "ui_thread_test.moc"
