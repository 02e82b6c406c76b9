#include "wizard_qt/program.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include "app/settings_file.h"
#include "dialogs/askuser.h"
#include "dialogs/exit_dialog.h"
#include "dialogs/fone.h"
#include "dialogs/kelbox.h"
#include "dialogs/pass_dialog.h"
#include "dialogs/progress.h"
#include "dialogs/qt_text.h"
#include "link/tcp_link.h"
#include "wizard_qt/setup.h"
#ifdef _WIN32
#include "link/vism_link.h"
#endif

namespace dorvik {

WizardProgram::WizardProgram(const std::filesystem::path& folder, ProgramParts parts, std::function<void()> terminate)
    : parts_(std::move(parts)),
      session_(
          std::make_unique<Session>(FileLocations::In(folder), *parts_.link, ui_, *parts_.clock, *parts_.settings)),
      terminate_(std::move(terminate)) {
  if (!terminate_) {
    // exit() rather than quit(): quit() would first ask every window to
    // close, and the wizard answers a close with the exit dialog.
    terminate_ = [] { QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); }); };
  }
}

WizardProgram::~WizardProgram() {
  // The install log is written, and shown when asked for, while every
  // window is still whole.
  if (fmSetup != nullptr) fmSetup->FormDestroy();
  delete fmSetup;
  delete fmAskUser;
  delete fmBox;
  delete fmPass;
  delete fmExit;
  delete fmProgress;
  delete fmFone;
}

void WizardProgram::Create(const std::vector<std::string>& args) {
  std::atomic<bool>& abort = session_->run.UserAbort;
  fmFone = new TfmFone(abort);
  fmSetup = new TfmSetup(*session_, ui_, terminate_);
  ui_.Attach(fmFone, fmSetup, nullptr);
  fmSetup->FormCreate(*fmFone, args);
  fmProgress = new TfmProgress(abort);
  fmExit = new TfmExit;
  fmPass = new TfmPass;
  fmBox = new TfmBox;
  fmAskUser = new TfmAskUser;

  fmSetup->SetWindows(fmProgress, fmExit, fmPass);
  ui_.Attach(fmFone, fmSetup, fmProgress);
  fmFone->SetCompanions(fmSetup, fmProgress);
  fmFone->SetOnClose(terminate_);
  fmProgress->SetMainWindow(fmFone);
  // Maximised over the whole screen, also where no window manager
  // maximises it.
  if (QScreen* display = QGuiApplication::primaryScreen()) fmFone->setGeometry(display->geometry());
  fmFone->showMaximized();
  // The wizard stays in front of the background even where no window
  // manager activates the background on its first showing.
  fmSetup->raise();
  fmSetup->activateWindow();
}

namespace {

ProgramParts SystemParts() {
  ProgramParts parts;
#ifdef _WIN32
  parts.link = std::make_unique<VismLink>();
#else
  parts.link = std::make_unique<TcpLink>();
#endif
  parts.clock = std::make_unique<SystemClock>();
  parts.settings = OpenUserSettings();
  return parts;
}

}  // namespace

int RunWizard(const std::vector<std::string>& args, ClientProbe& probe, const std::filesystem::path& folder,
              const std::function<void(const QString&)>& showMessage) {
  if (!probe.ClientPresent()) {
    showMessage(FromCore(NoClientText()));
    return 0;
  }
  WizardProgram program(folder, SystemParts());
  program.Create(args);
  return QApplication::exec();
}

}  // namespace dorvik
