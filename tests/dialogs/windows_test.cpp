// The exit and password dialogs' answers, the background window's picture
// frame and its JPEG pictures.
#include <QtTest>
#include <atomic>
#include <filesystem>
#include <fstream>

#include "dialogs/exit_dialog.h"
#include "dialogs/fone.h"
#include "dialogs/jpeg_picture.h"
#include "dialogs/pass_dialog.h"
#include "dialogs/progress.h"
#include "modal_script.h"
#include "sample_jpeg.h"

using namespace dorvik;

class WindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void ExitDialogAnswers() {
    TfmExit dialog;
    QCOMPARE(dialog.windowTitle(), QString::fromUtf8("Выход из установки"));
    auto run = [&](const std::function<void(QWidget*)>& act) {
      dorvik_test::ModalScript script;
      script.Then(act);
      return dialog.exec();
    };
    QCOMPARE(run([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }), int(QDialog::Accepted));
    QCOMPARE(run([](QWidget*) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }),
             int(QDialog::Accepted));
    QCOMPARE(run([](QWidget* w) { dorvik_test::ClickChild(w, "OK"); }), int(QDialog::Accepted));
    QCOMPARE(run([](QWidget* w) { dorvik_test::ClickChild(w, "Cancel"); }), int(QDialog::Rejected));
    QCOMPARE(run([](QWidget* w) { w->close(); }), int(QDialog::Rejected));
  }

  void PasswordFieldKeepsTheLastEntry() {
    TfmPass dialog;
    QCOMPARE(dialog.edPass->echoMode(), QLineEdit::Password);
    {
      dorvik_test::ModalScript script;
      script.Then([](QWidget* w) {
        auto* d = static_cast<TfmPass*>(w);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(d->edPass));
        QTest::keyClicks(d->edPass, "Secret");
        QTest::keyClick(d->edPass, Qt::Key_Return);
      });
      QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    }
    {
      dorvik_test::ModalScript script;
      script.Then([](QWidget* w) {
        auto* d = static_cast<TfmPass*>(w);
        QCOMPARE(d->edPass->text(), QString("Secret"));
        QCOMPARE(d->edPass->displayText(), QString("******"));
        QTest::keyClick(w, Qt::Key_Escape);
      });
      QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    }
  }

  void PicturesAreDecodedWithLibjpeg() {
    const auto folder = std::filesystem::temp_directory_path() / "fone-picture-test";
    std::filesystem::create_directories(folder);
    dorvik_test::WriteSampleJpeg(folder / "p1.jpg", 64, 40, 1);
    const QImage image = DecodeJpegFile(folder / "p1.jpg");
    QCOMPARE(image.size(), QSize(64, 40));

    std::atomic<bool> abort{false};
    TfmFone fone(abort);
    fone.resize(1000, 700);
    fone.show();
    QCOMPARE(fone.pnBevel->geometry(), QRect(100, 70, 800, 490));
    QVERIFY(!fone.pnBevel->isVisibleTo(&fone));
    fone.ShowPicture(folder / "p1.jpg");
    QVERIFY(fone.pnBevel->isVisibleTo(&fone));
    QVERIFY(!fone.Image->pixmap().isNull());
    QCOMPARE(fone.PictureBottom(), 560);

    // A damaged or missing picture is a failure naming the file.
    {
      std::ofstream bad(folder / "p2.jpg", std::ios::binary);
      bad << "\xFF\xD8\xFF\xE0 not really a picture";
    }
    for (const char* name : {"p2.jpg", "p3.jpg"}) {
      try {
        fone.ShowPicture(folder / name);
        QFAIL("an unreadable picture was accepted");
      } catch (const std::runtime_error& e) {
        QVERIFY2(QString(e.what()).contains(name), e.what());
      }
    }
    fone.SetTitle("Склад 2.9");
    QCOMPARE(fone.lbMSH->text(), QString("Склад 2.9"));
    QCOMPARE(fone.lbShadow->text(), QString("Склад 2.9"));
    QCOMPARE(fone.lbShadow->pos() - fone.lbMSH->pos(), QPoint(4, 4));
    std::filesystem::remove_all(folder);
  }

  void ActivatingTheBackgroundBringsTheOthersForward() {
    std::atomic<bool> abort{false};
    TfmFone fone(abort);
    TfmProgress progress(abort);
    QWidget wizard(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    QWidget other;
    fone.SetCompanions(&wizard, &progress);
    fone.show();
    other.show();
    // The first activation shows the wizard; the progress window keeps to
    // itself while it stays on top.
    fone.activateWindow();
    QTRY_VERIFY(wizard.isVisible());
    QTRY_VERIFY(wizard.isActiveWindow());
    QVERIFY(!progress.isVisible());

    // While connecting, neither stays on top: both come back with the
    // background.
    wizard.hide();
    wizard.setWindowFlag(Qt::WindowStaysOnTopHint, false);
    progress.SetStayOnTop(false);
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    fone.activateWindow();
    QTRY_VERIFY(wizard.isVisible());
    QTRY_VERIFY(progress.isVisible());
  }
};

DORVIK_QT_TEST_MAIN(WindowsTest)
#include "windows_test.moc"
