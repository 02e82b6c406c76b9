// The wizard window in Qt: draws the wizard model (its six pages, fields,
// boxes and texts) and forwards the user's clicks, keys and typing to it.
// It answers the model's prompts with the program's dialogs and runs the
// model's server steps on the link thread while the windows stay alive.
// Nothing of the pages' logic is here; it is all in the model.
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
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "core/session.h"
#include "wizard_model/front_end.h"
#include "wizard_model/link_thread.h"
#include "wizard_model/wizard_model.h"

namespace dorvik {

class QtInstallerUi;
class TfmExit;
class TfmFone;
class TfmPass;
class TfmProgress;

class TfmSetup : public QWidget, public WizardFrontEnd {
  Q_OBJECT

 public:
  // `terminate` requests the end of the program; it takes effect when
  // control is back in the event loop. `parent` is the background, whose
  // window the wizard belongs to (it is minimised and restored with it).
  TfmSetup(Session& session, QtInstallerUi& ui, LinkThread& link, std::function<void()> terminate,
           QWidget* parent = nullptr);
  ~TfmSetup() override;

  // The creation handler: the model's start-up, the background's title;
  // shows the wizard centred on the screen.
  void FormCreate(TfmFone& fone, const std::vector<std::string>& args);
  // The windows created after the wizard.
  void SetWindows(TfmProgress* progress, TfmExit* exit, TfmPass* pass);
  // Writes the install log and, when asked for, shows it; runs once.
  void FormDestroy();

  WizardModel& Model() { return model_; }
  bool LicencePresent() const { return model_.LicencePresent(); }
  bool HeaderRead() const { return model_.HeaderRead(); }

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

  // The model's actions, one QAction each (named as the action); a button,
  // a key or a tick triggers it, and it runs the model's handler.
  QAction* ActionOf(Action action) const { return actions_[static_cast<std::size_t>(action)]; }

  // WizardFrontEnd.
  Answer Ask(const Prompt& prompt) override;
  void RunOnLinkThread(const std::function<void()>& call) override;
  void Refresh() override;
  void Terminate() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildPages();
  QWidget* PageWidget(Page page) const;
  // The action of the focused button, when the focus is on one.
  std::optional<Action> FocusedButtonAction() const;
  void BackToFront();

  Session& s_;
  QtInstallerUi& ui_;
  LinkThread& link_;
  std::function<void()> terminate_;
  WizardModel model_;
  TfmFone* fone_ = nullptr;
  TfmProgress* progress_ = nullptr;
  TfmExit* exit_ = nullptr;
  TfmPass* pass_ = nullptr;
  std::array<QAction*, kActionCount> actions_{};
  std::vector<std::pair<QPushButton*, Action>> buttons_;
  // Set while Refresh writes the model's state into the controls, so that
  // their change signals are not taken for the user's input.
  bool refreshing_ = false;
};

}  // namespace dorvik
