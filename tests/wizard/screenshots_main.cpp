// wizard-screenshots OUTDIR: renders every wizard page, every dialog and
// the progress window in each of its layouts on the current Qt platform
// (offscreen in tests) and saves them as PNG files in OUTDIR.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPainter>
#include <iostream>

#include "dialogs/askuser.h"
#include "dialogs/exit_dialog.h"
#include "dialogs/fone.h"
#include "dialogs/kelbox.h"
#include "dialogs/pass_dialog.h"
#include "dialogs/placement.h"
#include "dialogs/progress.h"
#include "dialogs/text_viewer.h"
#include "modal_script.h"
#include "dialogs/qt_text.h"
#include "distribution/codepage.h"
#include "engine/connection.h"
#include "wizard_qt/setup.h"
#include "wizard_qt/wizard_font.h"
#include "wizard_fixture.h"

using namespace dorvik;

namespace {

QString g_out;
int g_failures = 0;

void Save(QWidget* w, const QString& name) {
  w->show();
  QApplication::processEvents();
  const QString file = g_out + "/" + name + ".png";
  if (!w->grab().save(file)) {
    std::cerr << "cannot save " << file.toStdString() << "\n";
    ++g_failures;
  } else {
    std::cout << file.toStdString() << "\n";
  }
}

void SavePixmap(const QPixmap& picture, const QString& name) {
  const QString file = g_out + "/" + name + ".png";
  if (!picture.save(file)) ++g_failures;
  std::cout << file.toStdString() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ApplyWizardFont(app);
  if (argc != 2) {
    std::cerr << "usage: wizard-screenshots OUTDIR\n";
    return 2;
  }
  g_out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_out);

  try {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), true, 2);
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    Session& s = program->session();

    const std::pair<QWidget*, const char*> pages[] = {
        {w.tsMain, "page1_tsMain"}, {w.tsLicence, "page2_tsLicence"}, {w.tsParams, "page3_tsParams"}};
    for (const auto& [page, name] : pages) {
      w.Pager->setCurrentWidget(page);
      Save(&w, name);
    }
    for (const char* ns : {"%CACHELIB", "%SYS", "SAMPLES", "USER"}) w.llNS->addItem(ns);
    w.llNS->setCurrentRow(3);
    w.chSPass->setChecked(true);
    w.Pager->setCurrentWidget(w.tsNS);
    Save(&w, "page4_tsNS");
    // A library distribution: the list and its caption give way to the notice.
    w.llNS->setCurrentRow(0);
    w.llNS->hide();
    w.llNS->setEnabled(false);
    w.Label6->hide();
    w.lbCachelib->setText(
        QString::fromUtf8("Дистрибутив содержит библиотечные программы.\n"
                          "Установка будет производиться в библиотечную\nобласть %CACHELIB"));
    w.lbCachelib->show();
    Save(&w, "page4_tsNS_library");
    w.lbCachelib->hide();
    w.Label6->show();
    w.llNS->setEnabled(true);
    w.llNS->show();
    w.llNS->setCurrentRow(3);
    s.connection.Namespace = "USER";
    s.options.KeepSources = true;
    w.mmSettings->clear();
    for (const std::string& line : FillSettingsSummary(s)) w.mmSettings->appendPlainText(FromCore(line));
    w.mmSettings->moveCursor(QTextCursor::Start);
    w.Pager->setCurrentWidget(w.tsInstall);
    Save(&w, "page5_tsInstall");
    w.mmFailed->hide();
    w.mmSuccess->show();
    w.Pager->setCurrentWidget(w.tsFinal);
    Save(&w, "page6_tsFinal_success");
    w.mmSuccess->hide();
    w.mmFailed->show();
    Save(&w, "page6_tsFinal_failed");

    TfmProgress& p = *program->fmProgress;
    p.SetProgressHeight(kProgressCompact);
    p.SetStage(QString::fromUtf8("Соединение с сервером..."));
    p.SetAnimation(Animation::FindFolder);
    Save(&p, "progress1_compact");
    p.SetProgressHeight(kProgressGauge);
    p.SetStage(QString::fromUtf8("Восстановление программ ..."));
    p.SetAnimation(Animation::CopyFiles);
    p.SetProgressMax(7);
    p.SetProgress(3);
    p.SetElement("VMR3");
    p.SetTimeText(QString::fromUtf8("Осталось 0:00:12"));
    p.SetTimeVisible(true);
    Save(&p, "progress2_gauge");
    p.SetStage(QString::fromUtf8("Анализ области установки..."));
    p.SetAnimation(Animation::FindComputer);
    p.SetElement("");
    p.SetTimeVisible(false);
    p.SetProgress(0);
    Save(&p, "progress2b_check");
    p.SetStage(QString::fromUtf8("Завершающие стадии установки..."));
    p.EnterPostActionMode();
    p.SetProgressMax(100);
    p.SetProgress(75);
    p.SetTimeText(QString::fromUtf8("Прошло: 0:00:07"));
    for (const char* line :
         {"  index^VMPOST - Перестроение индексов", "  Шаг 1", "  Шаг 2", "  Шаг 3", "  askyn^VMPOST - Справочники",
          "  askname^VMPOST - Организация", "  Организация: Склад и Ко", "  Шаг 4", "  Готово"}) {
      p.AppendAfterLine(QString::fromUtf8(line));
    }
    Save(&p, "progress3_postactions");

    TfmFone& fone = *program->fmFone;
    fone.showNormal();
    fone.resize(1024, 768);
    fone.ShowPicture(folder.Path() / "IMAGES" / "p1.jpg");
    Save(&fone, "fone_background");
    // The background with the progress window in its place during the restore.
    {
      QPixmap desktop = fone.grab();
      TfmProgress restore(s.run.UserAbort);
      restore.SetProgressHeight(kProgressGauge);
      restore.SetStage(QString::fromUtf8("Восстановление программ ..."));
      restore.SetAnimation(Animation::CopyFiles);
      restore.SetProgressMax(7);
      restore.SetProgress(5);
      restore.SetElement("VMR5");
      restore.SetTimeText(QString::fromUtf8("Осталось 0:00:04"));
      restore.SetTimeVisible(true);
      QPainter painter(&desktop);
      painter.drawPixmap(fone.width() - restore.width(), fone.PictureBottom() + 20, restore.grab());
      painter.end();
      SavePixmap(desktop, "fone_during_restore");
    }

    Save(program->fmExit, "dialog_fmExit");
    program->fmPass->edPass->setText("secret");
    Save(program->fmPass, "dialog_fmPass");
    // The password dialog where it opens: centred on the wizard.
    {
      w.Pager->setCurrentWidget(w.tsNS);
      w.move(200, 150);
      w.show();
      QApplication::processEvents();
      CentreOn(program->fmPass, &w);
      QPixmap scene(1024, 620);
      scene.fill(QColor(0, 128, 128));
      QPainter painter(&scene);
      painter.drawPixmap(w.pos(), w.grab());
      painter.drawPixmap(program->fmPass->pos(), program->fmPass->grab());
      painter.end();
      SavePixmap(scene, "wizard_with_fmPass");
    }
    // Esc taken during a stage: the notice beside the stage text.
    {
      TfmProgress check(s.run.UserAbort);
      check.SetProgressHeight(kProgressGauge);
      check.SetStage(QString::fromUtf8("Анализ области установки..."));
      check.SetAnimation(Animation::FindComputer);
      check.SetProgressMax(2);
      check.SetProgress(1);
      check.SetElement("");
      check.AcceptAbortRequests(true);
      check.RequestAbort();
      Save(&check, "progress2c_abort_notice");
      check.SetStage(QString::fromUtf8("Восстановление программ ..."));
      check.SetElement("VMR3");
      Save(&check, "progress2d_abort_notice_restore");
      check.hide();
      s.run.UserAbort = false;
    }
    // A post-action's question over the progress window: clear of its stage
    // text, gauge and messages.
    {
      fone.ShowPicture(folder.Path() / "IMAGES" / "p2.jpg");
      fone.move(0, 0);
      p.SetMainWindow(&fone);
      p.CentreOnMainWindow();
      QPixmap scene = fone.grab();
      QPainter painter(&scene);
      painter.drawPixmap(p.pos() - fone.pos(), p.grab());
      TfmBox box;
      KelboxRequest r;
      r.message = Ru("Заполнить справочники?");
      r.caption = Ru("Установка Велмора Склад 2.9  Выполнение последействий: 66%");
      r.buttons = Ru("Да_Нет");
      r.escResult = 2;
      box.Prepare(r);
      const QPoint at = PlaceClearOf(box.size(), p.frameGeometry(), fone.geometry());
      painter.drawPixmap(at - fone.pos(), box.grab());
      TfmAskUser ask;
      ask.Prepare(QString::fromUtf8("Название организации?"), "", QString::fromUtf8("Велмора"));
      QPixmap second = scene.copy();
      painter.end();
      SavePixmap(scene, "fone_postaction_question");
      QPainter other(&second);
      other.drawPixmap(PlaceClearOf(ask.size(), p.frameGeometry(), fone.geometry()) - fone.pos(), ask.grab());
      other.end();
      SavePixmap(second, "fone_postaction_askuser");
    }
    // The protocol in the program's own viewer.
    {
      const std::filesystem::path file = folder.Path() / "protocol-sample.txt";
      std::string bytes;
      for (const std::string& line : s.log.Lines()) bytes += line + "\r\n";
      for (const char* line : {"", "Подключение к системной области.", "Параметры соединения:", "IP адрес:127.0.0.1",
                               "Порт:1972", "Область:%SYS", "", "Успешное соединение с областью %SYS",
                               "Ошибка! <LINK> сервер 127.0.0.1:1972 закрыл соединение"}) {
        bytes += Ru(line) + "\r\n";
      }
      folder.Write("protocol-sample.txt", bytes);
      TfmViewer viewer(file, ReadTextFile(file, TextEncoding::Cp1251).value_or(QString()));
      Save(&viewer, "dialog_fmViewer_protocol");
    }
    {
      TfmBox box;
      KelboxRequest r;
      r.message = Ru("Заполнить справочники?");
      r.caption = Ru("Установка Велмора Склад 2.9  Выполнение последействий: 66%");
      r.buttons = Ru("Да_Нет");
      r.escResult = 2;
      box.Prepare(r);
      Save(&box, "dialog_fmBox_yes_no");
      TfmBox wide;
      r.message = Ru("Перестроить индексы всех справочников склада? Это может занять несколько минут.");
      r.buttons = Ru("Да_Нет_Позже");
      wide.Prepare(r);
      Save(&wide, "dialog_fmBox_wide");
    }
    {
      TfmAskUser ask;
      ask.Prepare(QString::fromUtf8("Укажите название организации, для которой устанавливается склад"), "",
                  QString::fromUtf8("Велмора"));
      Save(&ask, "dialog_fmAskUser");
    }
    {
      QMessageBox yesNo(QMessageBox::NoIcon, "Velmora Installation Wizard",
                        QString::fromUtf8("Не восстанавливать программы дистрибутива?"),
                        QMessageBox::Yes | QMessageBox::No);
      yesNo.button(QMessageBox::Yes)->setText(QString::fromUtf8("Да"));
      yesNo.button(QMessageBox::No)->setText(QString::fromUtf8("Нет"));
      Save(&yesNo, "dialog_yes_no");
    }
    // The start-up error with its reason: a folder without dorpack.dat.
    {
      dorvik_test::ScratchFolder empty;
      dorvik_test::ProgramProbe emptyProbe;
      auto failed = dorvik_test::MakeProgram(empty.Path(), emptyProbe);
      dorvik_test::ModalScript script;
      script.Then([](QWidget* box) {
        Save(box, "dialog_startup_error");
        static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
      });
      failed->Create({});
      if (!script.Done()) {
        std::cerr << "the start-up error was not shown\n";
        ++g_failures;
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "wizard-screenshots: " << e.what() << "\n";
    return 1;
  }
  return g_failures == 0 ? 0 : 1;
}
