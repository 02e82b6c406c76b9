// The progress window: its layouts, the message list, the gauge's bounds,
// and Esc.
#include <QScrollBar>
#include <QtTest>
#include <atomic>

#include "dialogs/fone.h"
#include "dialogs/progress.h"
#include "dialogs/qt_ui.h"
#include "distribution/codepage.h"
#include "modal_script.h"

using namespace dorvik;

class ProgressTest : public QObject {
  Q_OBJECT

 private slots:
  void LayoutsFollowTheHeights() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    QCOMPARE(progress.height(), 80);
    QCOMPARE(progress.width(), 336);
    // The gauge begins at 79, so at the compact height it lies outside.
    QVERIFY(progress.gaP->geometry().bottom() >= progress.height());
    progress.SetProgressHeight(kProgressGauge);
    QCOMPARE(progress.height(), 117);
    QVERIFY(progress.gaP->geometry().bottom() < progress.height());
    QVERIFY(progress.lbElement->geometry().bottom() < progress.height());
    QVERIFY(!progress.pnAfter->isVisibleTo(&progress));

    progress.SetTimeText("Осталось 0:01:10");
    progress.SetTimeVisible(true);
    QCOMPARE(progress.lbTime->geometry().right() + 1, 324);  // anchored at the gauge's right end

    progress.EnterPostActionMode();
    QCOMPARE(progress.size(), QSize(600, 245));
    QCOMPARE(progress.gaP->width(), 563);
    QCOMPARE(progress.ani2->x(), 538);
    QVERIFY(progress.ani2->isVisibleTo(&progress));
    QVERIFY(!progress.Ani->isVisibleTo(&progress));
    QVERIFY(!progress.lbElement->isVisibleTo(&progress));
    QVERIFY(progress.lbTime->isVisibleTo(&progress));
    QCOMPARE(progress.lbTime->x(), 14);
    QCOMPARE(progress.lbTime->text(), QString());
    QVERIFY(progress.pnAfter->isVisibleTo(&progress));
    QCOMPARE(progress.pnAfter->geometry().bottom(), 245 - 3);

    // Once the list is shown its scroll box keeps its size.
    const QSize box = progress.sbAfter->size();
    progress.SetProgressHeight(300);
    QCOMPARE(progress.sbAfter->size(), box);
  }

  void MessageListKeepsTheNewestLineInView() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    progress.EnterPostActionMode();
    progress.show();
    QVERIFY(QTest::qWaitForWindowExposed(&progress));
    progress.AppendAfterLine("  first");
    progress.AppendAfterLine("  second");
    progress.AppendAfterLine("  third");
    QCOMPARE(progress.AfterText(), QString("  first\r  second\r  third"));
    QCOMPARE(progress.lbAfter->text().count('\n'), 2);
    for (int i = 0; i < 30; ++i) progress.AppendAfterLine(QString("  line %1").arg(i));
    QScrollBar* bar = progress.sbAfter->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
  }

  void GaugeIsHeldInsideItsRange() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    QtInstallerUi ui;
    TfmFone fone(abort);
    ui.Attach(&fone, nullptr, &progress);
    ui.SetProgressMax(100);
    ui.SetProgress(150);
    QCOMPARE(ui.Progress(), 100);
    QCOMPARE(progress.gaP->value(), 100);
    QCOMPARE(ui.ProgressPercent(), 100);
    ui.SetProgress(-3);
    QCOMPARE(ui.Progress(), 0);
    ui.SetProgressMax(7);
    ui.SetProgress(2);
    QCOMPARE(ui.ProgressPercent(), 28);
    ui.SetProgressMax(0);
    QCOMPARE(ui.ProgressPercent(), 0);
    // Texts from the installation arrive in code page 1251.
    ui.SetStage(Ru("Восстановление программ ..."));
    QCOMPARE(progress.lbMes->text(), QString::fromUtf8("Восстановление программ ..."));
  }

  void EscOnlyRaisesTheAbortFlag() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    progress.show();
    QVERIFY(QTest::qWaitForWindowExposed(&progress));
    QTest::keyClick(&progress, Qt::Key_Escape);
    QVERIFY(abort.load());
    QVERIFY(progress.isVisible());

    abort = false;
    TfmFone fone(abort);
    fone.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fone));
    QTest::keyClick(&fone, Qt::Key_Escape);
    QVERIFY(abort.load());
    QVERIFY(fone.isVisible());
    abort = false;
    QTest::keyClick(&fone, Qt::Key_A);
    QVERIFY(!abort.load());
  }

  // While a stage takes requests to stop, Esc on the progress window or the
  // background is acknowledged at once beside the stage text; the notice
  // goes when the question is asked or the stage ends.
  void EscIsAcknowledgedWhileAStageTakesIt() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    TfmFone fone(abort);
    QWidget wizard;
    fone.SetCompanions(&wizard, &progress);
    QtInstallerUi ui;
    ui.Attach(&fone, &wizard, &progress);
    progress.SetProgressHeight(kProgressGauge);
    ui.SetStage(Ru("Анализ области установки..."));
    progress.show();
    QVERIFY(QTest::qWaitForWindowExposed(&progress));
    QTest::keyClick(&progress, Qt::Key_Escape);  // no stage takes it: only the flag
    QVERIFY(abort.load());
    QVERIFY(!progress.lbAbort->isVisibleTo(&progress));

    abort = false;
    ui.AcceptAbortRequests(true);
    QTest::keyClick(&progress, Qt::Key_Escape);
    QVERIFY(abort.load());
    QVERIFY(progress.lbAbort->isVisibleTo(&progress));
    QCOMPARE(progress.lbAbort->text(), QString::fromUtf8("Остановка после шага"));
    // Beside the stage text, inside the window, on the same line, for both
    // stages that take the request.
    for (const char* stage : {"Анализ области установки...", "Восстановление программ ..."}) {
      ui.SetStage(Ru(stage));
      QCOMPARE(progress.lbAbort->y(), progress.lbMes->y());
      QVERIFY(progress.lbAbort->x() > progress.lbMes->geometry().right());
      QVERIFY(progress.lbAbort->geometry().right() < progress.width() - 2);
    }
    ui.ClearAbortNotice();
    QVERIFY(!progress.lbAbort->isVisibleTo(&progress));

    abort = false;
    fone.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fone));
    QTest::keyClick(&fone, Qt::Key_Escape);
    QVERIFY(abort.load());
    QVERIFY(progress.lbAbort->isVisibleTo(&progress));
    ui.AcceptAbortRequests(false);
    QVERIFY(!progress.lbAbort->isVisibleTo(&progress));
    // A request made before the stage began to take them is shown when it does.
    ui.AcceptAbortRequests(true);
    QVERIFY(progress.lbAbort->isVisibleTo(&progress));
  }

  // When the wizard comes back, the application's title is its own again.
  void ShowingTheWizardGivesBackItsTitle() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    TfmFone fone(abort);
    QWidget wizard;
    QtInstallerUi ui;
    ui.Attach(&fone, &wizard, &progress);
    ui.SetAppTitle(Ru("Установка Склад 2.9  Выполнение последействий: 100%"));
    QCOMPARE(fone.windowTitle(), QString::fromUtf8("Установка Склад 2.9  Выполнение последействий: 100%"));
    ui.ShowWizard();
    QCOMPARE(ui.AppTitle(), std::string("Velmora Installation Wizard"));
    QCOMPARE(fone.windowTitle(), QString("Velmora Installation Wizard"));
  }

  void StayOnTopSwitchKeepsTheWindowShown() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    progress.show();
    QVERIFY(progress.IsStayOnTop());
    progress.SetStayOnTop(false);
    QVERIFY(!progress.IsStayOnTop());
    QVERIFY(progress.isVisible());
    progress.SetStayOnTop(true);
    QVERIFY(progress.IsStayOnTop());
  }
};

DORVIK_QT_TEST_MAIN(ProgressTest)
#include "progress_test.moc"
