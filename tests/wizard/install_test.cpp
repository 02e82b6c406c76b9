// One whole installation through the windows against mserver: the buttons
// are pressed as a user would, the post-actions' questions are answered in
// the dialogs, and the result page shows success.
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dialogs/askuser.h"
#include "dialogs/fone.h"
#include "dialogs/kelbox.h"
#include "dialogs/pass_dialog.h"
#include "dialogs/progress.h"
#include "dialogs/text_viewer.h"
#include "distribution/codepage.h"
#include "modal_script.h"
#include "wizard_qt/setup.h"
#include "wizard_fixture.h"

using namespace dorvik;
using dorvik_test::ModalScript;

namespace {

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

class InstallTest : public QObject {
  Q_OBJECT

 private slots:
  void WholeInstallationThroughTheWindows() {
    dorvik_test::MServer server;
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), true, 3);
    dorvik_test::ProgramProbe probe;
    // The protocol's viewer, when the program ends.
    ModalScript viewer;
    QString protocolShown;
    {
      auto program = dorvik_test::MakeProgram(folder.Path(), probe);
      program->Create({});
      TfmSetup& w = *program->fmSetup;
      QVERIFY(QTest::qWaitForWindowExposed(&w));

      w.bt0go->click();
      w.bt1Yes->click();
      QCOMPARE(w.Pager->currentWidget(), w.tsParams);
      w.edIP->setText("127.0.0.1");
      w.mePort->setText(QString::number(server.Port()));
      w.bt2Go->click();
      QCOMPARE(w.Pager->currentWidget(), w.tsNS);
      QStringList names;
      for (int i = 0; i < w.llNS->count(); ++i) names << w.llNS->item(i)->text();
      QVERIFY2(names.contains("USER"), qPrintable(names.join(",")));
      QCOMPARE(w.llNS->currentItem()->text(), QString("USER"));  // the preferred namespace
      QVERIFY(!program->fmProgress->isVisible());

      {
        ModalScript script;
        script.Then([](QWidget* dialog) {
          auto* pass = qobject_cast<TfmPass*>(dialog);
          QVERIFY(pass != nullptr);
          pass->edPass->setText(QString::fromUtf8("Пароль7"));
          pass->Button2->click();
        });
        w.chSPass->click();
        QVERIFY(script.Done());
      }
      QVERIFY(w.chSPass->isChecked());
      // Back and forward again: a new connection, the tick kept.
      w.Button4->click();
      w.bt2Go->click();
      QCOMPARE(w.Pager->currentWidget(), w.tsNS);
      QVERIFY(w.chSPass->isChecked());

      w.Button2->click();
      QCOMPARE(w.Pager->currentWidget(), w.tsInstall);
      const QStringList summary = w.mmSettings->toPlainText().split('\n');
      QCOMPARE(summary.at(0), QString::fromUtf8("Устанавливаемый продукт:"));
      QCOMPARE(summary.at(1), QString::fromUtf8("          Велмора Склад 2.9"));
      QCOMPARE(summary.at(5), QString("          USER"));
      QCOMPARE(summary.at(6), QString::fromUtf8("          С исходными текстами программ"));
      QVERIFY(summary.contains(QString("          IP адрес : 127.0.0.1")));

      // The post-actions ask a yes/no question in the message box and a
      // text question in the question dialog.
      ModalScript answers;
      QString kelboxButtons;
      answers.Then([&](QWidget* dialog) {
        auto* box = qobject_cast<TfmBox*>(dialog);
        if (auto* message = qobject_cast<QMessageBox*>(dialog)) {
          const QString text = message->text();
          message->button(QMessageBox::Ok)->click();
          QFAIL(qPrintable("unexpected message: " + text));
        }
        QVERIFY2(box != nullptr, qPrintable(dialog->objectName()));
        QCOMPARE(box->lbMes->text(), QString::fromUtf8("Заполнить справочники?"));
        kelboxButtons = box->Buttons()[0]->text() + "_" + box->Buttons()[1]->text();
        QVERIFY(program->fmProgress->isVisible());
        QCOMPARE(program->fmProgress->width(), 600);
        // The question leaves the progress window in view.
        QVERIFY(!box->frameGeometry().intersects(program->fmProgress->frameGeometry()));
        box->Buttons()[0]->click();
      });
      answers.Then([&](QWidget* dialog) {
        auto* ask = qobject_cast<TfmAskUser*>(dialog);
        QVERIFY2(ask != nullptr, qPrintable(dialog->objectName()));
        QCOMPARE(ask->edAsk->text(), QString::fromUtf8("Велмора"));
        ask->edAsk->setText(QString::fromUtf8("Склад и Ко"));
        ask->Button1->click();
      });
      w.bt3Install->click();
      QVERIFY(answers.Done());
      QCOMPARE(kelboxButtons, QString::fromUtf8("Да_Нет"));

      QCOMPARE(w.Pager->currentWidget(), w.tsFinal);
      QVERIFY(w.isVisible());
      QVERIFY(w.mmSuccess->isVisibleTo(&w));
      QVERIFY(!w.mmFailed->isVisibleTo(&w));
      QVERIFY(!program->fmProgress->isVisible());
      QVERIFY(program->fmFone->pnBevel->isVisibleTo(program->fmFone));  // the pictures were shown
      const QString messages = program->fmProgress->AfterText();
      QVERIFY2(messages.contains(QString::fromUtf8("Шаг 4")), qPrintable(messages));
      QVERIFY2(messages.contains(QString::fromUtf8("Организация: Склад и Ко")), qPrintable(messages));
      QCOMPARE(program->fmProgress->gaP->value(), 100);
      QCOMPARE(probe.opened.size(), std::size_t{1});
      QCOMPARE(probe.opened.at(0), folder.Path() / "readme.txt");
      // The wizard is back with the application's own title.
      QCOMPARE(program->ui().AppTitle(), std::string("Velmora Installation Wizard"));
      QCOMPARE(program->fmFone->windowTitle(), QString("Velmora Installation Wizard"));

      w.chProtocol->setChecked(true);
      viewer.Then([&](QWidget* d) {
        auto* shown = qobject_cast<TfmViewer*>(d);
        QVERIFY2(shown != nullptr, qPrintable(d->objectName()));
        protocolShown = shown->mmText->toPlainText();
        shown->btClose->click();
      });
      w.btFin->click();
      QCOMPARE(probe.terminations, 1);
      QVERIFY(program->fmProgress->isVisible());
      QCOMPARE(program->fmProgress->height(), 80);
      QCOMPARE(program->fmProgress->lbMes->text(), QString::fromUtf8("Выход из программы установки..."));
    }
    // The log is written at exit and shown, as the box was ticked.
    const auto log = folder.Path() / "dorvik.txt";
    QVERIFY(std::filesystem::exists(log));
    QVERIFY(viewer.Done());
    QCOMPARE(probe.opened.size(), std::size_t{1});
    QVERIFY2(protocolShown.contains(QString::fromUtf8("\nПродолжительность установки: ")), qPrintable(protocolShown));
    const std::string text = ReadFile(log);
    QVERIFY(text.find(Ru("Протокол установки дистрибутива")) != std::string::npos);
    QVERIFY(text.find(Ru("Продолжительность установки: ")) != std::string::npos);

    // The server holds the routines with their sources and the answers.
    QCOMPARE(server.Evaluate("USER", "$d(^rOBJ(\"VMR6\"))"), std::string("1"));
    QCOMPARE(server.Evaluate("USER", "$d(^ROUTINE(\"VMR1\"))") != "0", true);
    QCOMPARE(server.Evaluate("USER", "$g(^VMDEMO(\"yn\"))"), std::string("1"));
    QCOMPARE(server.Evaluate("USER", "$g(^VMDEMO(\"name\"))"), Utf8ToCp866("Склад и Ко"));
    // The settings were kept for the next run.
    const std::string settings = ReadFile(folder.Path() / "settings" / "dorvik.conf");
    QVERIFY(settings.find("Port=" + std::to_string(server.Port())) != std::string::npos);
    QVERIFY(settings.find("NS=USER") != std::string::npos);
  }

  void CommandLineModeShowsInTheSummary() {
    dorvik_test::MServer server;
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    const std::pair<std::vector<std::string>, QStringList> cases[] = {
        {{"q"},
         {QString::fromUtf8("          выполнять метки преддействия"),
          QString::fromUtf8("          установка с \"мягким\" преддействием")}},
        {{"no"}, {QString::fromUtf8("          преддействия не выполнять")}},
    };
    for (const auto& [args, expected] : cases) {
      dorvik_test::ProgramProbe probe;
      auto program = dorvik_test::MakeProgram(folder.Path(), probe);
      program->Create(args);
      TfmSetup& w = *program->fmSetup;
      w.bt0go->click();
      w.mePort->setText(QString::number(server.Port()));
      w.bt2Go->click();
      w.Button2->click();
      QCOMPARE(w.Pager->currentWidget(), w.tsInstall);
      const QStringList summary = w.mmSettings->toPlainText().split('\n');
      QCOMPARE(summary.mid(7, expected.size()), expected);
      QCOMPARE(summary.at(7 + expected.size()), QString::fromUtf8("          восстанавливать программы"));
    }
  }

  void LibraryDistributionGoesToTheLibraryNamespace() {
    dorvik_test::MServer server;
    dorvik_test::ScratchFolder folder;
    folder.Write("source/%VMLIB.int", "%VMLIB ; библиотека\n q\n");
    const auto manifest = folder.Write("source/manifest.json", R"({"product": "Lib", "version": "1", "build_date": "1",
        "password": "p", "routines": ["%VMLIB.int"]})");
    dorvik_test::RunDorpack(manifest, folder.Path() / "dorpack.dat");
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    w.bt0go->click();
    w.mePort->setText(QString::number(server.Port()));
    w.bt2Go->click();
    QCOMPARE(w.Pager->currentWidget(), w.tsNS);
    QVERIFY(!w.llNS->isVisibleTo(&w));
    QVERIFY(!w.llNS->isEnabled());
    QVERIFY(!w.Label6->isVisibleTo(&w));  // the list's caption goes with it
    QVERIFY(w.lbCachelib->isVisibleTo(&w));
    QCOMPARE(w.lbCachelib->text(), QString::fromUtf8("Дистрибутив содержит библиотечные программы.\n"
                                                     "Установка будет производиться в библиотечную\n"
                                                     "область %CACHELIB"));
    w.Button2->click();
    QCOMPARE(w.mmSettings->toPlainText().split('\n').at(5), QString("          %CACHELIB"));
  }

  void EscDuringTheRestoreStopsTheInstallation() {
    dorvik_test::MServer server;
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0, 300);
    dorvik_test::ProgramProbe probe;
    {
      auto program = dorvik_test::MakeProgram(folder.Path(), probe);
      program->Create({});
      TfmSetup& w = *program->fmSetup;
      TfmProgress& progress = *program->fmProgress;
      w.bt0go->click();
      w.mePort->setText(QString::number(server.Port()));
      w.bt2Go->click();
      w.Button2->click();
      QCOMPARE(w.Pager->currentWidget(), w.tsInstall);

      // Esc as soon as the restore is under way; it reaches the progress
      // window although every other input is held back during the call.
      bool pressed = false;
      bool noticeAtEsc = false;
      int positionAtEsc = 0;
      QTimer watcher;
      watcher.setInterval(5);
      connect(&watcher, &QTimer::timeout, [&] {
        const bool restoring = progress.lbMes->text() == QString::fromUtf8("Восстановление программ ...") &&
                               progress.lbElement->text().startsWith("VMR") && progress.gaP->value() >= 2;
        if (pressed || !restoring) return;
        pressed = true;
        positionAtEsc = progress.gaP->value();
        QTest::keyClick(&progress, Qt::Key_Escape);
        // Acknowledged at once, before the restore looks at the flag.
        noticeAtEsc = progress.lbAbort->isVisibleTo(&progress);
      });
      watcher.start();
      ModalScript answers;
      answers.Then([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box != nullptr);
        // "Нет" is the default; the notice has gone now that the question is asked.
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        QVERIFY(!progress.lbAbort->isVisibleTo(&progress));
        box->button(QMessageBox::Yes)->click();
      });
      w.bt3Install->click();
      QVERIFY(pressed);
      QVERIFY(noticeAtEsc);
      QVERIFY(answers.Done());
      QCOMPARE(answers.Seen().at(0).section('|', 1), QString::fromUtf8("Прервать установку?"));
      QVERIFY2(positionAtEsc < 300, "the restore ended before Esc");
      QVERIFY(progress.gaP->value() < 300);
      QCOMPARE(w.Pager->currentWidget(), w.tsFinal);
      QVERIFY(w.mmFailed->isVisibleTo(&w));
      QVERIFY(!w.mmSuccess->isVisibleTo(&w));
    }
    const std::string log = ReadFile(folder.Path() / "dorvik.txt");
    QVERIFY(log.find(Ru("Установка прервана пользователем.")) != std::string::npos);
    // No post-action ran.
    QCOMPARE(server.Evaluate("USER", "$d(^VMDEMO)"), std::string("0"));
  }
};

DORVIK_QT_TEST_MAIN(InstallTest)
#include "install_test.moc"
