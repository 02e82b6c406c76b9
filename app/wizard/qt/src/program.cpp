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

namespace dorvik {

WizardProgram::WizardProgram(const std::filesystem::path& folder, ProgramParts parts, std::function<void()> terminate)
    : parts_(std::move(parts)),
      link_(std::make_unique<LinkThread>(parts_.makeLink, parts_.linkHooks)),
      session_(
          std::make_unique<Session>(FileLocations::In(folder), link_->Link(), ui_, *parts_.clock, *parts_.settings)),
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
  // The dialogs belong to the wizard and the wizard to the background: the
  // owned windows go first.
  delete fmAskUser;
  delete fmBox;
  delete fmPass;
  delete fmExit;
  delete fmProgress;
  delete fmSetup;
  delete fmFone;
}

void WizardProgram::Create(const std::vector<std::string>& args) {
  std::atomic<bool>& abort = session_->run.UserAbort;
  fmFone = new TfmFone(abort);
  fmSetup = new TfmSetup(*session_, ui_, *link_, terminate_, fmFone);
  ui_.Attach(fmFone, fmSetup, nullptr);
  fmSetup->FormCreate(*fmFone, args);
  fmProgress = new TfmProgress(abort);
  // The exit and password dialogs open in front of the wizard, which stays
  // on top of every other window.
  fmExit = new TfmExit(fmSetup);
  fmPass = new TfmPass(fmSetup);
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
  parts.makeLink = [] { return std::make_unique<TcpLink>(); };
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
