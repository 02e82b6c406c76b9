// The wizard's pages without a server: start-up, the page flows with and
// without a licence, the exit confirmation on every page, the option boxes
// with the password check and the double confirmations, and the start-up
// failures.
#include <QThread>
#include <QWindow>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "dialogs/askuser.h"
#include "dialogs/exit_dialog.h"
#include "dialogs/kelbox.h"
#include "dialogs/fone.h"
#include "dialogs/pass_dialog.h"
#include "dialogs/progress.h"
#include "dialogs/text_viewer.h"
#include "modal_script.h"
#include "app/settings_file.h"
#include "distribution/codepage.h"
#include "link/tcp_link.h"
#include "wizard_model/pages.h"
#include "wizard_qt/setup.h"
#include "wizard_fixture.h"

using namespace dorvik;
using dorvik_test::ModalScript;

namespace {

QString Lines(const QPlainTextEdit* memo) { return memo->toPlainText(); }

void PressExit(ModalScript& script, const char* button) {
  script.Then([button](QWidget* w) {
    QVERIFY(qobject_cast<TfmExit*>(w) != nullptr);
    dorvik_test::ClickChild(w, button);
  });
}

// A TcpLink that counts the calls made on another thread than the one that
// created it.
class ThreadCheckedLink : public ServerLink {
 public:
  ThreadCheckedLink(std::atomic<int>& calls, std::atomic<int>& foreign, std::atomic<bool>& madeOffUiThread)
      : calls_(calls), foreign_(foreign), owner_(std::this_thread::get_id()) {
    madeOffUiThread = QThread::currentThread() != QCoreApplication::instance()->thread();
  }
  void SetServer(const std::string& server) override { Checked().SetServer(server); }
  std::string GetServer() override { return Checked().GetServer(); }
  void SetNamespace(const std::string& ns) override { Checked().SetNamespace(ns); }
  void SetParam(int n, const std::string& value) override { Checked().SetParam(n, value); }
  std::string GetParam(int n) override { return Checked().GetParam(n); }
  void RunCode(const std::string& code) override { Checked().RunCode(code); }
  void Execute(const std::string& code) override { Checked().Execute(code); }
  std::string GetValue() override { return Checked().GetValue(); }
  void SetValue(const std::string& value) override { Checked().SetValue(value); }
  void ClearError() override { Checked().ClearError(); }
  int ErrorCode() override { return Checked().ErrorCode(); }
  std::string ErrorText() override { return Checked().ErrorText(); }

 private:
  ServerLink& Checked() {
    ++calls_;
    if (std::this_thread::get_id() != owner_) ++foreign_;
    return inner_;
  }
  TcpLink inner_;
  std::atomic<int>& calls_;
  std::atomic<int>& foreign_;
  std::thread::id owner_;
};

class AbsentClient : public ClientProbe {
 public:
  bool ClientPresent() override { return false; }
};

}  // namespace

class PagesTest : public QObject {
  Q_OBJECT

 private slots:
  void StartUpFillsTheWelcomePage() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    QVERIFY(w.windowTitle().endsWith(" 2.9"));
    QCOMPARE(w.windowTitle(), QString("Velmora Installation Wizard 2.9"));
    QCOMPARE(w.Pager->currentWidget(), w.tsMain);
    QCOMPARE(Lines(w.mmProductInfo),
             QString::fromUtf8("Эта программа установит: Велмора Склад 2.9. \nСборка: 08.12.2026"));
    QCOMPARE(program->fmFone->Title(), QString::fromUtf8("Велмора Склад 2.9"));
    QCOMPARE(w.edIP->text(), QString("127.0.0.1"));
    QCOMPARE(w.mePort->text(), QString("1972"));
    QVERIFY(w.isVisible());
    QCOMPARE(probe.terminations, 0);
    // The background is the main window: closing it ends the program.
    program->fmFone->close();
    QCOMPARE(probe.terminations, 1);
  }

  void FlowWithoutLicence() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    QVERIFY(!w.LicencePresent());
    w.bt0go->click();
    QCOMPARE(w.Pager->currentWidget(), w.tsParams);
    w.bt2Back->click();
    QCOMPARE(w.Pager->currentWidget(), w.tsMain);
    // Enter presses the page's default button.
    QTest::keyClick(&w, Qt::Key_Return);
    QCOMPARE(w.Pager->currentWidget(), w.tsParams);
  }

  void FlowWithLicence() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), true, 0);
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    QVERIFY(w.LicencePresent());
    QCOMPARE(Lines(w.mmLicence), QString::fromUtf8("Лицензионное соглашение\nПункт 1."));
    w.bt0go->click();
    QCOMPARE(w.Pager->currentWidget(), w.tsLicence);
    {
      // "Нет" asks whether to leave; "Продолжить" stays on the page.
      ModalScript script;
      PressExit(script, "OK");
      w.Bt1No->click();
      QVERIFY(script.Done());
    }
    QCOMPARE(w.Pager->currentWidget(), w.tsLicence);
    QCOMPARE(probe.terminations, 0);
    w.bt1Yes->click();
    QCOMPARE(w.Pager->currentWidget(), w.tsParams);
    w.bt2Back->click();
    QCOMPARE(w.Pager->currentWidget(), w.tsLicence);
    w.Button1->click();
    QCOMPARE(w.Pager->currentWidget(), w.tsMain);
  }

  void EmptyLicenceStillShowsItsPage() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    folder.Write("licence.txt", "");
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    program->fmSetup->bt0go->click();
    QCOMPARE(program->fmSetup->Pager->currentWidget(), program->fmSetup->tsLicence);
    QCOMPARE(Lines(program->fmSetup->mmLicence), QString());
  }

  void ClosingActsAsCancelOnEveryPage() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), true, 0);
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    for (QWidget* page : {w.tsMain, w.tsLicence, w.tsParams, w.tsNS, w.tsInstall, w.tsFinal}) {
      w.Pager->setCurrentWidget(page);
      ModalScript script;
      PressExit(script, "OK");
      QVERIFY(!w.close());
      QVERIFY(script.Done());
      QVERIFY(w.isVisible());
      QCOMPARE(w.Pager->currentWidget(), page);
    }
    QCOMPARE(probe.terminations, 0);
    {
      // Esc on the welcome page is "Отмена"; "Выход" ends the program.
      w.Pager->setCurrentWidget(w.tsMain);
      ModalScript script;
      PressExit(script, "Cancel");
      QTest::keyClick(&w, Qt::Key_Escape);
      QVERIFY(script.Done());
      QCOMPARE(probe.terminations, 1);
    }
    {
      // Closing the exit dialog itself also means leaving.
      ModalScript script;
      script.Then([](QWidget* dialog) { dialog->close(); });
      w.bt2Cancel->click();
      QCOMPARE(probe.terminations, 2);
    }
    // Esc elsewhere does nothing.
    w.Model().Trigger(Action::act0go);
    w.Model().Trigger(Action::act1Yes);
    QCOMPARE(w.Pager->currentWidget(), w.tsParams);
    QTest::keyClick(&w, Qt::Key_Escape);
    QCOMPARE(probe.terminations, 2);
  }

  void SourcePasswordCheck() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    w.Pager->setCurrentWidget(w.tsNS);
    auto tickWith = [&](const QString& typed, bool ok) {
      ModalScript script;
      script.Then([typed, ok](QWidget* dialog) {
        auto* pass = qobject_cast<TfmPass*>(dialog);
        QVERIFY(pass != nullptr);
        pass->edPass->setText(typed);
        (ok ? pass->Button2 : pass->Button3)->click();
      });
      w.chSPass->click();
      QVERIFY(script.Done());
    };
    tickWith(QString::fromUtf8("Пароль7"), false);  // cancelled
    QVERIFY(!w.chSPass->isChecked());
    tickWith(QString::fromUtf8("пароль7"), true);  // other letter case
    QVERIFY(!w.chSPass->isChecked());
    tickWith(QString(), true);
    QVERIFY(!w.chSPass->isChecked());
    tickWith(QString::fromUtf8("Пароль7"), true);
    QVERIFY(w.chSPass->isChecked());
    // Unticking asks nothing; the field keeps the last entry.
    w.chSPass->click();
    QVERIFY(!w.chSPass->isChecked());
    QCOMPARE(program->fmPass->edPass->text(), QString::fromUtf8("Пароль7"));
  }

  void DoubleConfirmations() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    w.Pager->setCurrentWidget(w.tsNS);
    struct Case {
      QCheckBox* box;
      const char* first;
      const char* second;
    };
    for (const Case& c : {Case{w.chNoRestore, "Не восстанавливать программы дистрибутива?",
                               "Вы уверены, что не нужно восстанавливать программы?"},
                          Case{w.chNoAfter, "Не выполнять метки последействия?",
                               "Вы уверены, что не нужно выполнять последействия?"}}) {
      {
        ModalScript script;
        script.Answer(QMessageBox::Yes).Answer(QMessageBox::No);
        c.box->click();
        QVERIFY(script.Done());
        QCOMPARE(script.Seen().at(0), "Velmora Installation Wizard|" + QString::fromUtf8(c.first));
        QCOMPARE(script.Seen().at(1), "Velmora Installation Wizard|" + QString::fromUtf8(c.second));
        QVERIFY(!c.box->isChecked());
      }
      {
        ModalScript script;
        script.Answer(QMessageBox::No);
        c.box->click();
        QVERIFY(script.Done());
        QCOMPARE(script.Seen().size(), 1);
        QVERIFY(!c.box->isChecked());
      }
      {
        ModalScript script;
        script.Then([](QWidget* box) {
          // No is the default answer.
          QCOMPARE(static_cast<QMessageBox*>(box)->defaultButton(),
                   static_cast<QMessageBox*>(box)->button(QMessageBox::No));
          static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
        });
        script.Answer(QMessageBox::Yes);
        c.box->click();
        QVERIFY(script.Done());
        QVERIFY(c.box->isChecked());
      }
    }
    // Both stay ticked when the user goes back and forth between pages.
    w.Button4->click();
    QCOMPARE(w.Pager->currentWidget(), w.tsParams);
    w.Pager->setCurrentWidget(w.tsNS);
    QVERIFY(w.chNoRestore->isChecked());
    QVERIFY(w.chNoAfter->isChecked());
  }

  void FailedConnectionStaysOnTheConnectionPage() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    dorvik_test::ProgramProbe probe;
    // The link is made, and called, only on its own thread.
    std::atomic<int> calls{0}, foreign{0};
    std::atomic<bool> madeOffUiThread{false};
    auto program = dorvik_test::MakeProgram(
        folder.Path(), probe, [&] { return std::make_unique<ThreadCheckedLink>(calls, foreign, madeOffUiThread); });
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    w.bt0go->click();
    {
      ModalScript script;
      script.Answer(QMessageBox::Ok);
      w.mePort->setText("  ");
      w.bt2Go->click();
      QVERIFY(script.Done());
      QCOMPARE(script.Seen().at(0).section('|', 1), QString::fromUtf8("Параметры соединения должны быть указаны"));
    }
    {
      // Nothing listens on port 1 of the loopback.
      ModalScript script;
      script.Answer(QMessageBox::Ok);
      w.mePort->setText("1");
      w.bt2Go->click();
      QVERIFY(script.Done());
    }
    QCOMPARE(w.Pager->currentWidget(), w.tsParams);
    QVERIFY(w.isVisible());
    QVERIFY(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!program->fmProgress->isVisible());
    QVERIFY(program->fmProgress->IsStayOnTop());
    QVERIFY(madeOffUiThread);
    QVERIFY(calls > 0);
    QCOMPARE(foreign.load(), 0);
    // The attempt is in the log.
    program.reset();
    std::ifstream in(folder.Path() / "dorvik.txt", std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QVERIFY(log.find(Ru("Подключение к системной области.")) != std::string::npos);
    QVERIFY(log.find(Ru("Порт:1")) != std::string::npos);
  }

  // The message keeps its first line and says below it what went wrong,
  // with the data file's full path.
  void UnreadableDistributionEndsTheProgram() {
    struct Case {
      std::string bytes;  // "" : no data file at all
      const char* reason;
    };
    const Case cases[] = {
        {"", "Файл дистрибутива не найден."},
        {std::string("\0\x05", 2),
         "Файл дистрибутива повреждён: файл кончается на смещении 2, поле «название продукта» не дописано."},
        {std::string("\0\x05Sklad\r\r08.12.2026\r", 20),
         "Файл дистрибутива повреждён: пустое поле «версия» на смещении 8."},
    };
    for (const Case& c : cases) {
      dorvik_test::ScratchFolder folder;
      if (!c.bytes.empty()) folder.Write("dorpack.dat", c.bytes);
      {
        dorvik_test::ProgramProbe probe;
        auto program = dorvik_test::MakeProgram(folder.Path(), probe);
        ModalScript script;
        QString shown;
        script.Then([&](QWidget* w) {
          shown = dorvik_test::VerbatimText(static_cast<QMessageBox*>(w));
          static_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
        });
        program->Create({"q"});
        QVERIFY(script.Done());
        const QString path = QString::fromStdString((folder.Path() / "dorpack.dat").string());
        QCOMPARE(shown,
                 QString::fromUtf8("Ошибка инициализации установщика\n\n") + QString::fromUtf8(c.reason) + "\n" + path);
        QCOMPARE(probe.terminations, 1);
        QVERIFY(!program->fmSetup->HeaderRead());
      }
      // The log is still written when the program ends, without the reason.
      const auto log = folder.Path() / "dorvik.txt";
      QVERIFY(std::filesystem::exists(log));
      std::ifstream in(log, std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      QVERIFY(text.find(Ru("повреждён")) == std::string::npos);
      QVERIFY(text.find(Ru("не найден")) == std::string::npos);
    }
  }

  // Enter presses the button that has the focus; the page's default button
  // answers it only from a field, the list, a box or a text. (The model's
  // own tests go through every page; here the view's forwarding.)
  void EnterPressesTheFocusedButton() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), true, 0);
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    // Which action a key runs, without running it.
    QStringList triggered;
    for (QAction* action : w.findChildren<QAction*>()) {
      QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
      connect(action, &QAction::triggered, this, [&triggered, action] { triggered << action->objectName(); });
    }
    struct Case {
      std::optional<Action> reach;  // run on the model first, to turn the page
      QWidget* page;
      QWidget* focus;
      const char* action;  // "" : nothing
    };
    const Case cases[] = {
        {std::nullopt, w.tsMain, w.bt0go, "act0go"},          {std::nullopt, w.tsMain, w.bt0Cancel, "actExit"},
        {Action::act0go, w.tsLicence, w.Button1, "act1Back"}, {std::nullopt, w.tsLicence, w.bt1Yes, "act1Yes"},
        {std::nullopt, w.tsLicence, w.Bt1No, "actExit"},      {std::nullopt, w.tsLicence, w.mmLicence, ""},
        {Action::act1Yes, w.tsParams, w.bt2Back, "act2Back"}, {std::nullopt, w.tsParams, w.bt2Go, "act2go"},
        {std::nullopt, w.tsParams, w.bt2Cancel, "actExit"},   {std::nullopt, w.tsParams, w.edIP, "act2go"},
        {std::nullopt, w.tsParams, w.mePort, "act2go"},
    };
    for (const Case& c : cases) {
      if (c.reach) w.Model().Trigger(*c.reach);
      QCOMPARE(w.Pager->currentWidget(), c.page);
      for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        c.focus->setFocus();
        QCOMPARE(w.focusWidget(), c.focus);
        triggered.clear();
        QTest::keyClick(c.focus, key);
        const QStringList expected = *c.action ? QStringList{c.action} : QStringList{};
        QVERIFY2(triggered == expected, qPrintable(c.focus->objectName() + ": " + triggered.join(",")));
      }
      // Space keeps pressing the focused button.
      if (auto* button = qobject_cast<QPushButton*>(c.focus)) {
        triggered.clear();
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(triggered, QStringList{c.action});
      }
    }
  }

  // The exit and password dialogs open centred on the wizard; the password
  // dialog has room for its title.
  void DialogsOpenOverTheWizard() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    w.move(40, 30);
    QTRY_COMPARE(w.pos(), QPoint(40, 30));
    w.Pager->setCurrentWidget(w.tsNS);
    QPoint passCentre, exitCentre;
    // Both belong to the wizard, so a window manager opens them in front of
    // it although it stays on top of every other window.
    auto belongsToWizard = [&w](QWidget* d) {
      QVERIFY(d->windowHandle() != nullptr);
      QCOMPARE(d->windowHandle()->transientParent(), w.windowHandle());
    };
    {
      ModalScript script;
      script.Then([&](QWidget* d) {
        belongsToWizard(d);
        passCentre = d->frameGeometry().center();
        dorvik_test::ClickChild(d, "Button3");
      });
      w.chSPass->click();
      QVERIFY(script.Done());
    }
    {
      ModalScript script;
      script.Then([&](QWidget* d) {
        belongsToWizard(d);
        exitCentre = d->frameGeometry().center();
        dorvik_test::ClickChild(d, "OK");
      });
      w.Button3->click();
      QVERIFY(script.Done());
    }
    for (const QPoint& centre : {passCentre, exitCentre}) {
      QVERIFY2((centre - w.frameGeometry().center()).manhattanLength() <= 2,
               qPrintable(QString("%1,%2").arg(centre.x()).arg(centre.y())));
    }
    QFont title = program->fmPass->font();
    title.setBold(true);
    title.setPixelSize(14);
    QVERIFY(program->fmPass->width() >= QFontMetrics(title).horizontalAdvance(program->fmPass->windowTitle()) + 100);
  }

  // Texts from the server, the distribution or the user show as they are in
  // every label of every window.
  void NoLabelReadsMarkup() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    dorvik_test::ProgramProbe probe;
    auto program = dorvik_test::MakeProgram(folder.Path(), probe);
    program->Create({});
    for (QWidget* window : {static_cast<QWidget*>(program->fmSetup), static_cast<QWidget*>(program->fmFone),
                            static_cast<QWidget*>(program->fmProgress), static_cast<QWidget*>(program->fmExit),
                            static_cast<QWidget*>(program->fmPass), static_cast<QWidget*>(program->fmBox),
                            static_cast<QWidget*>(program->fmAskUser)}) {
      const QStringList reading = dorvik_test::LabelsReadingMarkup(window);
      QVERIFY2(reading.isEmpty(), qPrintable(reading.join(", ")));
    }
  }

  // "Просмотреть протокол установки": the protocol is shown in the
  // program's own viewer, decoded from code page 1251; the file stays as written.
  void ProtocolOpensInTheViewer() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    dorvik_test::ProgramProbe probe;
    QString shown;
    ModalScript script;
    script.Then([&](QWidget* d) {
      auto* viewer = qobject_cast<TfmViewer*>(d);
      QVERIFY2(viewer != nullptr, qPrintable(d->objectName()));
      shown = viewer->mmText->toPlainText();
      viewer->btClose->click();
    });
    {
      auto program = dorvik_test::MakeProgram(folder.Path(), probe);
      program->Create({});
      program->fmSetup->Pager->setCurrentWidget(program->fmSetup->tsFinal);
      program->fmSetup->chProtocol->setChecked(true);
    }
    QVERIFY(script.Done());
    QVERIFY(probe.opened.empty());  // not handed to the desktop
    QVERIFY2(shown.startsWith(QString::fromUtf8("Протокол установки дистрибутива. ")), qPrintable(shown));
    QVERIFY(shown.contains(QString::fromUtf8("\nПродукт: Велмора Склад\n")));
    std::ifstream in(folder.Path() / "dorvik.txt", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QVERIFY(bytes.find(Ru("Продукт: Велмора Склад") + "\r\n") != std::string::npos);
  }

  void LeavingFromTheResultPageEndsTheEventLoop() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    // The program's own termination, not the test's counter.
    dorvik::ProgramParts parts;
    parts.makeLink = [] { return std::make_unique<TcpLink>(); };
    parts.clock = std::make_unique<SystemClock>();
    parts.settings = std::make_unique<FileSettingsStore>(folder.Path() / "settings" / "dorvik.conf");
    auto program = std::make_unique<WizardProgram>(folder.Path(), std::move(parts));
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    w.Pager->setCurrentWidget(w.tsFinal);
    ModalScript unexpected;
    unexpected.Then([](QWidget* dialog) { dorvik_test::ClickChild(dialog, "OK"); });
    QTimer::singleShot(0, w.btFin, &QPushButton::click);
    QTimer::singleShot(10000, [] { QCoreApplication::exit(7); });  // the watchdog
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY2(unexpected.Seen().isEmpty(), "leaving asked for a confirmation");
  }

  void MissingClientStopsBeforeAnyWindow() {
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 0);
    AbsentClient probe;
    QString shown;
    const int code = RunWizard({}, probe, folder.Path(), [&](const QString& text) { shown = text; });
    QCOMPARE(code, 0);
    QCOMPARE(shown, QString::fromUtf8("Cache-клиент не обнаружен. Установите сначала cache-клиент"));
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(!std::filesystem::exists(folder.Path() / "dorvik.txt"));
  }
};

DORVIK_QT_TEST_MAIN(PagesTest)
#include "pages_test.moc"
