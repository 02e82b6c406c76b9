#include "wizard_qt/setup.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTextCursor>

#include "app/driver.h"
#include "app/log_file.h"
#include "app/startup.h"
#include "dialogs/exit_dialog.h"
#include "dialogs/fone.h"
#include "dialogs/pass_dialog.h"
#include "dialogs/placement.h"
#include "dialogs/progress.h"
#include "dialogs/qt_text.h"
#include "dialogs/qt_ui.h"
#include "dialogs/ui_thread.h"
#include "distribution/codepage.h"
#include "engine/connection.h"

namespace dorvik {

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

void FillMemo(QPlainTextEdit* memo, const std::vector<std::string>& lines) {
  memo->clear();
  for (const std::string& line : lines) memo->appendPlainText(FromCore(line));
  memo->moveCursor(QTextCursor::Start);
}

}  // namespace

TfmSetup::TfmSetup(Session& session, QtInstallerUi& ui, std::function<void()> terminate)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint),
      s_(session),
      ui_(ui),
      terminate_(std::move(terminate)) {
  setObjectName("fmSetup");
  BuildPages();

  act0go = MakeAction("act0go", U("Далее"), &TfmSetup::act0goExecute);
  act1Yes = MakeAction("act1Yes", U("Да"), &TfmSetup::act1YesExecute);
  act1Back = MakeAction("act1Back", U("Назад"), &TfmSetup::act1BackExecute);
  act2Back = MakeAction("act2Back", U("Назад"), &TfmSetup::act2BackExecute);
  act2go = MakeAction("act2go", U("Далее"), &TfmSetup::act2goExecute);
  act25back = MakeAction("act25back", U("Назад"), &TfmSetup::act25backExecute);
  act25go = MakeAction("act25go", U("Далее"), &TfmSetup::act25goExecute);
  act3back = MakeAction("act3back", U("Назад"), &TfmSetup::act3backExecute);
  act3Install = MakeAction("act3Install", U("Установить"), &TfmSetup::act3InstallExecute);
  actFin = MakeAction("actFin", U("Выход"), &TfmSetup::actFinExecute);
  actExit = MakeAction("actExit", U("Выход из установки"), &TfmSetup::actExitExecute);
  actSoPass = MakeAction("actSoPass", chSPass->text(), &TfmSetup::actSoPassExecute);
  actNoRes = MakeAction("actNoRes", chNoRestore->text(), &TfmSetup::actNoResExecute);
  actNoAfter = MakeAction("actNoAfter", chNoAfter->text(), &TfmSetup::actNoAfterExecute);

  const std::pair<QPushButton*, QAction*> bindings[] = {
      {bt0go, act0go},     {bt0Cancel, actExit}, {Button1, act1Back},       {bt1Yes, act1Yes},    {Bt1No, actExit},
      {bt2Back, act2Back}, {bt2Go, act2go},      {bt2Cancel, actExit},      {Button4, act25back}, {Button2, act25go},
      {Button3, actExit},  {bt3Back, act3back},  {bt3Install, act3Install}, {bt3Cancel, actExit}, {btFin, actFin},
  };
  for (const auto& [button, action] : bindings) {
    connect(button, &QPushButton::clicked, action, &QAction::trigger);
  }
  // Drawn as default buttons; Enter presses them (keyPressEvent).
  for (QPushButton* button : {bt0go, bt2Go, Button2, bt3Install, btFin}) button->setDefault(true);
  // The checks run only when the user has just ticked a box.
  connect(chSPass, &QCheckBox::clicked, this, [this](bool on) {
    if (on) actSoPass->trigger();
  });
  connect(chNoRestore, &QCheckBox::clicked, this, [this](bool on) {
    if (on) actNoRes->trigger();
  });
  connect(chNoAfter, &QCheckBox::clicked, this, [this](bool on) {
    if (on) actNoAfter->trigger();
  });
}

TfmSetup::~TfmSetup() { FormDestroy(); }

QAction* TfmSetup::MakeAction(const char* name, const QString& text, void (TfmSetup::*handler)()) {
  auto* action = new QAction(text, this);
  action->setObjectName(name);
  connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  return action;
}

void TfmSetup::FormCreate(TfmFone& fone, const std::vector<std::string>& args) {
  fone_ = &fone;
  setWindowTitle(QString("Velmora Installation Wizard ") + kInstallerVersion);
  const StartupResult start = StartSession(s_, args);
  licencePresent_ = start.licencePresent;
  headerRead_ = start.headerRead;
  edIP->setText(FromCore(s_.connection.IP));
  mePort->setText(FromCore(s_.connection.Port));
  if (licencePresent_) FillMemo(mmLicence, start.licenceLines);
  if (!headerRead_) {
    // The fixed first line, then what went wrong and the file's full path.
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(s_.files.DataFilePath, ec);
    const QString path =
        QDir::toNativeSeparators(QString::fromStdU16String((ec ? s_.files.DataFilePath : file).u16string()));
    ui_.ShowMessageText(U("Ошибка инициализации установщика\n\n") + FromCore(start.headerFailure) + "\n" + path);
    terminate_();
  }
  const QString product = FromCore(s_.dist.ProductName + " " + s_.dist.Version);
  fone.SetTitle(product);
  mmProductInfo->setPlainText(U("Эта программа установит: ") + product + ". ");
  mmProductInfo->appendPlainText(U("Сборка: ") + FromCore(s_.dist.BuildDate));
  ShowPage(tsMain);
  if (QScreen* display = QGuiApplication::primaryScreen()) {
    move(display->availableGeometry().center() - rect().center());
  }
  show();
}

void TfmSetup::SetWindows(TfmProgress* progress, TfmExit* exit, TfmPass* pass) {
  progress_ = progress;
  exit_ = exit;
  pass_ = pass;
}

void TfmSetup::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  try {
    const LogFileResult written = WriteLogFile(s_.log, s_.files.LogPath, s_.files.FallbackFolder);
    if (written.written && chProtocol->isChecked()) {
      ui_.ShowProtocol(written.path, written.usedFallback ? s_.files.FallbackFolder : s_.files.ProgramFolder);
    }
  } catch (const std::exception&) {
    // The program is ending; a protocol that cannot be written is lost
    // without a message, as when both folders refuse it.
  }
}

void TfmSetup::ShowPage(QWidget* page) {
  Pager->setCurrentWidget(page);
  if (QPushButton* button = DefaultButton()) button->setFocus();
}

QPushButton* TfmSetup::DefaultButton() const {
  QWidget* page = Pager->currentWidget();
  if (page == tsMain) return bt0go;
  if (page == tsLicence) return nullptr;
  if (page == tsParams) return bt2Go;
  if (page == tsNS) return Button2;
  if (page == tsInstall) return bt3Install;
  if (page == tsFinal) return btFin;
  return nullptr;
}

// Enter presses the button that has the focus; the page's default button
// answers it only when the focus is elsewhere (a field, the list, a check
// box, a text). Space on a button is the button's own business.
void TfmSetup::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    if (focused != nullptr && focused->isVisible() && focused->isEnabled()) {
      focused->click();
    } else if (QPushButton* button = DefaultButton()) {
      button->click();
    }
    return;
  }
  if (event->key() == Qt::Key_Escape && Pager->currentWidget() == tsMain) {
    bt0Cancel->click();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool TfmSetup::RunBlocking(const std::function<void()>& step) {
  try {
    RunResponsive(step, {this, fone_, progress_}, {fone_, progress_});
    BackToFront();
    return true;
  } catch (const std::exception& e) {
    // A failure the step did not handle itself: reported like any failure
    // of the application, and the wizard stays where it was.
    const std::string line = AppFailureLine(e.what());
    s_.log.Add(line);
    ui_.CloseProgress();
    ui_.ShowWizard();
    ui_.ShowMessage(line);
    BackToFront();
    return false;
  }
}

// After a step the wizard takes the keyboard again, in front of the
// background and the progress window.
void TfmSetup::BackToFront() {
  if (!isVisible()) return;
  raise();
  activateWindow();
}

void TfmSetup::act0goExecute() {
  if (licencePresent_) {
    ShowPage(tsLicence);
    mmLicence->setFocus();
  } else {
    ShowPage(tsParams);
  }
}

void TfmSetup::act1YesExecute() { ShowPage(tsParams); }
void TfmSetup::act1BackExecute() { ShowPage(tsMain); }
void TfmSetup::act2BackExecute() { ShowPage(licencePresent_ ? tsLicence : tsMain); }
void TfmSetup::act25backExecute() { ShowPage(tsParams); }
void TfmSetup::act3backExecute() { ShowPage(tsNS); }

void TfmSetup::act2goExecute() {
  std::string ip;
  std::string port;
  try {
    ip = ToCore(edIP->text());
    port = ToCore(mePort->text());
  } catch (const TextConversionError&) {
    ui_.ShowMessage(Ru("Параметры соединения должны быть указаны"));
    return;
  }
  ConnectOutcome outcome;
  if (!RunBlocking([&] { outcome = dorvik::ConnectToServer(s_, ip, port); })) return;
  edIP->setText(FromCore(outcome.ipField));
  mePort->setText(FromCore(outcome.portField));
  if (!outcome.ok) return;

  llNS->clear();
  for (const std::string& ns : outcome.namespaces) llNS->addItem(FromCore(ns));
  if (outcome.selected >= 0) llNS->setCurrentRow(outcome.selected);
  // A library distribution goes into the namespace chosen here: the list
  // and its caption are hidden and the list takes no choice.
  llNS->setVisible(!outcome.library);
  llNS->setEnabled(!outcome.library);
  Label6->setVisible(!outcome.library);
  lbCachelib->setVisible(outcome.library);
  if (outcome.library) lbCachelib->setText(FromCore(outcome.libraryNotice).replace("\r\n", "\n"));
  ShowPage(tsNS);
}

void TfmSetup::act25goExecute() {
  QListWidgetItem* item = llNS->currentItem();
  if (item == nullptr) {
    ui_.ShowMessage(Ru("Выберите область"));
    return;
  }
  NamespaceChoice choice;
  try {
    choice.ns = ToCore(item->text());
  } catch (const TextConversionError&) {
    ui_.ShowMessage(Ru("Выберите область"));  // a name the server did not send
    return;
  }
  choice.keepSources = chSPass->isChecked();
  choice.noRestore = chNoRestore->isChecked();
  choice.noAfter = chNoAfter->isChecked();
  std::vector<std::string> summary;
  bool switched = false;
  if (!RunBlocking([&] { switched = dorvik::SwitchToNamespace(s_, choice, summary); })) return;
  if (!switched) return;
  FillMemo(mmSettings, summary);
  ShowPage(tsInstall);
}

void TfmSetup::act3InstallExecute() {
  bool succeeded = false;
  RunBlocking([&] { succeeded = dorvik::RunInstallation(s_); });  // false on a failure
  mmSuccess->setVisible(succeeded);
  mmFailed->setVisible(!succeeded);
  show();
  ShowPage(tsFinal);
}

void TfmSetup::actFinExecute() {
  terminate_();
  if (progress_ == nullptr) return;
  progress_->SetStage(U("Выход из программы установки..."));
  progress_->SetAnimation(Animation::None);
  progress_->SetElement(QString());
  progress_->SetProgressHeight(kProgressCompact);
  progress_->show();
  progress_->raise();
  progress_->repaint();
}

void TfmSetup::actExitExecute() {
  if (exit_ != nullptr) {
    CentreOn(exit_, this);
    if (exit_->exec() == QDialog::Rejected) terminate_();
  }
  exitDone_ = true;
}

// Closing the wizard is the same as "Отмена": the exit dialog decides, and
// the window itself never closes this way.
void TfmSetup::closeEvent(QCloseEvent* event) {
  actExit->trigger();
  if (exitDone_) {
    event->ignore();
  } else {
    event->accept();
  }
}

void TfmSetup::actSoPassExecute() {
  bool confirmed = false;
  if (pass_ != nullptr) CentreOn(pass_, this);
  if (pass_ != nullptr && pass_->exec() == QDialog::Accepted) {
    try {
      const std::string typed = ToCore(pass_->edPass->text());
      confirmed = !typed.empty() && typed == s_.dist.SourcePassword;
    } catch (const TextConversionError&) {
      confirmed = false;  // a character the password cannot hold
    }
  }
  if (!confirmed) chSPass->setChecked(false);
}

bool TfmSetup::ConfirmTwice(const char* question, const char* confirmation) {
  return ui_.AskYesNo(Ru(question), true) && ui_.AskYesNo(Ru(confirmation), true);
}

void TfmSetup::actNoResExecute() {
  if (!ConfirmTwice("Не восстанавливать программы дистрибутива?",
                    "Вы уверены, что не нужно восстанавливать программы?")) {
    chNoRestore->setChecked(false);
  }
}

void TfmSetup::actNoAfterExecute() {
  if (!ConfirmTwice("Не выполнять метки последействия?", "Вы уверены, что не нужно выполнять последействия?")) {
    chNoAfter->setChecked(false);
  }
}

}  // namespace dorvik
