// The exit and password dialogs' answers, the background window's picture
// frame and its JPEG pictures.
#include <QClipboard>
#include <QWindow>
#include <QtTest>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dialogs/askuser.h"
#include "dialogs/exit_dialog.h"
#include "dialogs/kelbox.h"
#include "dialogs/placement.h"
#include "dialogs/text_viewer.h"
#include "dialogs/fone.h"
#include "dialogs/jpeg_picture.h"
#include "dialogs/pass_dialog.h"
#include "dialogs/progress.h"
#include "dialogs/qt_ui.h"
#include "distribution/codepage.h"
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

  // What the server, the distribution or the system says is shown as it is:
  // "<LINK>" and "<b>" are text, not markup.
  void MessagesShowTheirTextVerbatim() {
    std::atomic<bool> abort{false};
    TfmFone fone(abort);
    TfmProgress progress(abort);
    QWidget wizard;
    QtInstallerUi ui;
    ui.Attach(&fone, &wizard, &progress);
    const QString link = QString::fromUtf8("Ошибка! <LINK> server 127.0.0.1:4711 closed the connection");
    const QString bold = QString::fromUtf8("Не выполнилось преддействие.  <b>занято</b>. Прервать установку?");
    dorvik_test::ModalScript script;
    QStringList shown;
    script.Then([&](QWidget* w) {
      shown << dorvik_test::VerbatimText(static_cast<QMessageBox*>(w));
      static_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
    });
    script.Then([&](QWidget* w) {
      shown << dorvik_test::VerbatimText(static_cast<QMessageBox*>(w));
      static_cast<QMessageBox*>(w)->button(QMessageBox::No)->click();
    });
    ui.ShowMessage(Utf8ToCp1251(link.toStdString()));
    QVERIFY(!ui.AskYesNo(Utf8ToCp1251(bold.toStdString())));
    QVERIFY(script.Done());
    QCOMPARE(shown, QStringList({link, bold}));

    ui.SetStage(Ru("Соединение с областью <b>USER</b>..."));
    ui.SetElement("<LINK>");
    ui.SetTimeText("<b>1</b>");
    fone.SetTitle("<b>Склад</b> 2.9");
    for (const QLabel* label : {progress.lbMes, progress.lbElement, progress.lbTime, fone.lbMSH, fone.lbShadow}) {
      QVERIFY2(dorvik_test::ShowsVerbatim(label), qPrintable(label->objectName()));
    }
    QCOMPARE(progress.lbMes->text(), QString::fromUtf8("Соединение с областью <b>USER</b>..."));
    for (QWidget* window : {static_cast<QWidget*>(&fone), static_cast<QWidget*>(&progress)}) {
      const QStringList reading = dorvik_test::LabelsReadingMarkup(window);
      QVERIFY2(reading.isEmpty(), qPrintable(reading.join(", ")));
    }
  }

  void PlacesClearOfAWindow() {
    const QRect screen(0, 0, 1024, 768);
    // Room above: centred in the free part above, across the window kept in view.
    QCOMPARE(PlaceClearOf(QSize(200, 100), QRect(212, 261, 600, 245), screen), QPoint(411, 80));
    // No room above, room below.
    QCOMPARE(PlaceClearOf(QSize(200, 100), QRect(212, 50, 600, 245), screen), QPoint(411, 295 + 186));
    // Room nowhere: the top of the screen.
    QCOMPARE(PlaceClearOf(QSize(200, 400), QRect(212, 200, 600, 400), screen), QPoint(411, 0));
    // Kept inside the screen sideways.
    QCOMPARE(PlaceClearOf(QSize(300, 100), QRect(-100, 400, 200, 100), screen).x(), 0);
  }

  // The post-action questions leave the progress window's stage text, gauge
  // and messages in view.
  void QuestionsOpenClearOfTheProgress() {
    std::atomic<bool> abort{false};
    TfmFone fone(abort);
    TfmProgress progress(abort);
    QWidget wizard;
    QtInstallerUi ui;
    ui.Attach(&fone, &wizard, &progress);
    progress.SetMainWindow(&fone);
    fone.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    fone.show();
    progress.EnterPostActionMode();
    progress.show();
    QVERIFY(QTest::qWaitForWindowExposed(&progress));
    QList<QRect> placed;
    dorvik_test::ModalScript script;
    script.Then([&](QWidget* w) {
      placed << w->frameGeometry();
      static_cast<TfmBox*>(w)->Buttons()[0]->click();
    });
    script.Then([&](QWidget* w) {
      placed << w->frameGeometry();
      static_cast<TfmAskUser*>(w)->Button1->click();
    });
    KelboxRequest r;
    r.message = Ru("Заполнить справочники?");
    r.buttons = Ru("Да_Нет");
    QCOMPARE(ui.RunKelbox(r), 1);
    QCOMPARE(ui.AskUser(Ru("Название организации?"), "", Ru("Велмора")), Ru("Велмора"));
    QVERIFY(script.Done());
    for (const QRect& dialog : placed) {
      QVERIFY2(!dialog.intersects(progress.frameGeometry()),
               qPrintable(QString("%1,%2").arg(dialog.x()).arg(dialog.y())));
      QVERIFY(dialog.bottom() < progress.y());
      // Across the progress window, give or take the frame drawn after placing.
      QVERIFY(qAbs(dialog.center().x() - progress.frameGeometry().center().x()) <= 4);
    }
  }

  void TextFilesAreDecodedForTheViewer() {
    // The protocol: code page 1251 with CR LF.
    const std::string protocol = Ru("Протокол установки\r\nПорт:1972\r\n");
    QCOMPARE(DecodeText(protocol, TextEncoding::Cp1251), QString::fromUtf8("Протокол установки\nПорт:1972\n"));
    // A readme: UTF-8 when it is valid UTF-8, else code page 1251.
    const std::string utf8 = "\xEF\xBB\xBF" + QString::fromUtf8("Прочти меня\r\n").toStdString();
    QCOMPARE(DecodeText(utf8, TextEncoding::Utf8OrCp1251), QString::fromUtf8("Прочти меня\n"));
    QCOMPARE(DecodeText(Ru("Прочти меня"), TextEncoding::Utf8OrCp1251), QString::fromUtf8("Прочти меня"));
    QCOMPARE(DecodeText(utf8, TextEncoding::Cp1251).contains(QString::fromUtf8("Прочти")), false);
  }

  // Where the desktop cannot open the readme, the program's own viewer shows
  // it, with a copy button; the file is not touched.
  void ReadmeFallsBackToTheViewer() {
    const auto folder = std::filesystem::temp_directory_path() / "viewer-test";
    std::filesystem::create_directories(folder);
    const std::string bytes = Ru("Установка склада\r\nШаг <1>\r\n");
    std::ofstream(folder / "readme.txt", std::ios::binary) << bytes;
    std::atomic<bool> abort{false};
    TfmFone fone(abort);
    TfmProgress progress(abort);
    QWidget wizard;
    wizard.show();
    QtInstallerUi ui;
    ui.Attach(&fone, &wizard, &progress);
    QStringList launched;
    ui.SetDesktopLauncher([&](const QUrl& url) {
      launched << url.toLocalFile();
      return false;
    });
    ui.OpenFile(folder / "missing.txt", folder);  // nothing at all for a missing file
    QVERIFY(launched.isEmpty());
    QVERIFY(wizard.findChildren<TfmViewer*>().isEmpty());

    ui.OpenFile(folder / "readme.txt", folder);
    QCOMPARE(launched.size(), 1);
    const auto viewers = wizard.findChildren<TfmViewer*>();
    QCOMPARE(viewers.size(), 1);
    TfmViewer* viewer = viewers.front();
    QVERIFY(viewer->isVisible());
    // A dialog of the wizard, so the window manager keeps it in front of
    // that always-on-top window, its "Закрыть" in view.
    QCOMPARE(viewer->windowType(), Qt::Dialog);
    QVERIFY(viewer->windowHandle() != nullptr);
    QCOMPARE(viewer->windowHandle()->transientParent(), wizard.windowHandle());
    QVERIFY(viewer->mmText->isReadOnly());
    QCOMPARE(viewer->mmText->toPlainText(), QString::fromUtf8("Установка склада\nШаг <1>\n"));
    viewer->btCopy->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromUtf8("Установка склада\nШаг <1>\n"));
    viewer->btClose->click();
    QTRY_VERIFY(wizard.findChildren<TfmViewer*>().isEmpty());  // closed and released
    std::ifstream in(folder / "readme.txt", std::ios::binary);
    QCOMPARE(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), bytes);

    // A desktop that takes the file: no viewer.
    ui.SetDesktopLauncher([](const QUrl&) { return true; });
    ui.OpenFile(folder / "readme.txt", folder);
    QVERIFY(wizard.findChildren<TfmViewer*>().isEmpty());
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

  // A wizard the window manager minimised comes back, in front, when the
  // user clicks the background.
  void ActivatingTheBackgroundRestoresAMinimisedWizard() {
    std::atomic<bool> abort{false};
    TfmFone fone(abort);
    TfmProgress progress(abort);
    QWidget wizard(&fone, Qt::Window | Qt::WindowStaysOnTopHint);
    QWidget other;
    fone.SetCompanions(&wizard, &progress);
    fone.show();
    wizard.show();
    other.show();
    fone.activateWindow();
    QTRY_VERIFY(fone.isActiveWindow() || wizard.isActiveWindow());
    wizard.showMinimized();
    QVERIFY(wizard.isMinimized());
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    fone.activateWindow();
    QTRY_VERIFY(!wizard.isMinimized());
    QVERIFY(wizard.isVisible());
    QTRY_VERIFY(wizard.isActiveWindow());
  }

  // The windows that wait for the user have no minimise button; where a
  // window manager minimises them anyway they are shown again at once. A
  // hidden one stays hidden.
  void WaitingWindowsComeBackWhenMinimised() {
    std::atomic<bool> abort{false};
    TfmProgress progress(abort);
    TfmExit exit;
    TfmPass pass;
    TfmBox box;
    TfmAskUser ask;
    for (QWidget* w : std::initializer_list<QWidget*>{&progress, &exit, &pass, &box, &ask}) {
      w->show();
      QVERIFY(QTest::qWaitForWindowExposed(w));
      w->showMinimized();
      QTRY_VERIFY2(!w->isMinimized(), qPrintable(w->objectName()));
      QVERIFY(w->isVisible());
      w->hide();
      w->setWindowState(Qt::WindowMinimized);
      QTest::qWait(20);
      QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
    }
  }
};

DORVIK_QT_TEST_MAIN(WindowsTest)
#include "windows_test.moc"
