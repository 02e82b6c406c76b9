// The wizard program: the client test, the file locations, the thread that
// owns the server link, the seven windows created once in their order, and
// the install log written when the program ends.
#pragma once

#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/qt_ui.h"
#include "core/session.h"
#include "wizard_model/client_probe.h"
#include "wizard_model/link_thread.h"

namespace dorvik {

class TfmAskUser;
class TfmBox;
class TfmExit;
class TfmFone;
class TfmPass;
class TfmProgress;
class TfmSetup;

struct ProgramParts {
  // Makes the server link on the link thread, after the hooks' `enter`.
  LinkThread::Factory makeLink;
  LinkThreadHooks linkHooks;
  std::unique_ptr<Clock> clock;
  std::unique_ptr<SettingsStore> settings;
};

class WizardProgram {
 public:
  // `folder` is the program folder (the current folder at start);
  // `terminate` requests the end of the program (quits the event loop
  // unless given).
  WizardProgram(const std::filesystem::path& folder, ProgramParts parts, std::function<void()> terminate = {});
  // Writes the install log (through the wizard's destruction).
  ~WizardProgram();

  // Creates the windows and runs the wizard's creation handler.
  void Create(const std::vector<std::string>& args);

  Session& session() { return *session_; }
  QtInstallerUi& ui() { return ui_; }

  TfmFone* fmFone = nullptr;
  TfmSetup* fmSetup = nullptr;
  TfmProgress* fmProgress = nullptr;
  TfmExit* fmExit = nullptr;
  TfmPass* fmPass = nullptr;
  TfmBox* fmBox = nullptr;
  TfmAskUser* fmAskUser = nullptr;

 private:
  ProgramParts parts_;
  // Declared before the session, which holds its link.
  std::unique_ptr<LinkThread> link_;
  QtInstallerUi ui_;
  std::unique_ptr<Session> session_;
  std::function<void()> terminate_;
};

// The whole program: the client test (a message and exit code 0 without a
// client), then the windows and the event loop. `showMessage` shows the
// client test's message.
int RunWizard(const std::vector<std::string>& args, ClientProbe& probe, const std::filesystem::path& folder,
              const std::function<void(const QString&)>& showMessage);

}  // namespace dorvik
