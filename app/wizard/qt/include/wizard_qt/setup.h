// The wizard window: six pages (welcome, licence, connection, namespace and
// options, ready to install, result) that change only through its actions,
// and the glue that runs the installation's steps from them.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "core/session.h"

namespace dorvik {

class QtInstallerUi;
class TfmExit;
class TfmFone;
class TfmPass;
class TfmProgress;

class TfmSetup : public QWidget {
  Q_OBJECT

 public:
  // `terminate` requests the end of the program; it takes effect when
  // control is back in the event loop.
  TfmSetup(Session& session, QtInstallerUi& ui, std::function<void()> terminate);
  ~TfmSetup() override;

  // The creation handler: start-up of the run, the welcome page, and the
  // background's title. Shows the wizard.
  void FormCreate(TfmFone& fone, const std::vector<std::string>& args);
  // The windows created after the wizard.
  void SetWindows(TfmProgress* progress, TfmExit* exit, TfmPass* pass);
  // Writes the install log and, when asked for, opens it; runs once.
  void FormDestroy();

  bool LicencePresent() const { return licencePresent_; }
  // Whether the distribution header was read at start.
  bool HeaderRead() const { return headerRead_; }

  // Pages.
  QStackedWidget* Pager;
  QWidget* tsMain;
  QWidget* tsLicence;
  QWidget* tsParams;
  QWidget* tsNS;
  QWidget* tsInstall;
  QWidget* tsFinal;

  // Controls.
  QPlainTextEdit* mmProductInfo;
  QPlainTextEdit* mmLicence;
  QLineEdit* edIP;
  QLineEdit* mePort;
  QLineEdit* meIP;
  QLineEdit* meNS;
  QLabel* Label6;
  QListWidget* llNS;
  QLabel* lbCachelib;
  QCheckBox* chSPass;
  QCheckBox* chNoRestore;
  QCheckBox* chNoAfter;
  QPlainTextEdit* mmSettings;
  QLabel* mmSuccess;
  QLabel* mmFailed;
  QCheckBox* chProtocol;
  QPushButton* bt0go;
  QPushButton* bt0Cancel;
  QPushButton* Button1;
  QPushButton* bt1Yes;
  QPushButton* Bt1No;
  QPushButton* bt2Back;
  QPushButton* bt2Go;
  QPushButton* bt2Cancel;
  QPushButton* Button4;
  QPushButton* Button2;
  QPushButton* Button3;
  QPushButton* bt3Back;
  QPushButton* bt3Install;
  QPushButton* bt3Cancel;
  QPushButton* btFin;

  // Actions.
  QAction* act0go;
  QAction* act1Yes;
  QAction* act1Back;
  QAction* act2Back;
  QAction* act2go;
  QAction* act25back;
  QAction* act25go;
  QAction* act3back;
  QAction* act3Install;
  QAction* actFin;
  QAction* actExit;
  QAction* actSoPass;
  QAction* actNoRes;
  QAction* actNoAfter;

  void act0goExecute();
  void act1YesExecute();
  void act1BackExecute();
  void act2BackExecute();
  void act2goExecute();
  void act25backExecute();
  void act25goExecute();
  void act3backExecute();
  void act3InstallExecute();
  void actFinExecute();
  void actExitExecute();
  void actSoPassExecute();
  void actNoResExecute();
  void actNoAfterExecute();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildPages();
  QAction* MakeAction(const char* name, const QString& text, void (TfmSetup::*handler)());
  QPushButton* DefaultButton() const;
  // Runs a step of the core off the interface thread while the windows
  // keep moving and take no input but Esc.
  // False (reported and logged) when the step failed unexpectedly.
  bool RunBlocking(const std::function<void()>& step);
  void ShowPage(QWidget* page);
  void BackToFront();
  bool ConfirmTwice(const char* question, const char* confirmation);

  Session& s_;
  QtInstallerUi& ui_;
  std::function<void()> terminate_;
  TfmFone* fone_ = nullptr;
  TfmProgress* progress_ = nullptr;
  TfmExit* exit_ = nullptr;
  TfmPass* pass_ = nullptr;
  bool licencePresent_ = false;
  bool headerRead_ = false;
  bool exitDone_ = false;
  bool destroyed_ = false;
};

}  // namespace dorvik
