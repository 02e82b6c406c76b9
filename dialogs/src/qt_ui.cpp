#include "dialogs/qt_ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDesktopServices>
#include <QMessageBox>
#include <QThread>
#include <QUrl>

#include "dialogs/askuser.h"
#include "dialogs/fone.h"
#include "dialogs/kelbox.h"
#include "dialogs/progress.h"
#include "dialogs/qt_text.h"
#include "dialogs/text_viewer.h"
#include "dialogs/ui_thread.h"
#include "distribution/codepage.h"

namespace dorvik {

namespace {

const char* const kWizardTitle = "Velmora Installation Wizard";

void SetStayOnTopFlag(QWidget* w, bool on) {
  if (w->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
  const bool wasVisible = w->isVisible();
  w->setWindowFlag(Qt::WindowStaysOnTopHint, on);
  if (wasVisible) w->show();
}

}  // namespace

QtInstallerUi::QtInstallerUi()
    : launcher_([](const QUrl& url) { return QDesktopServices::openUrl(url); }), appTitle_(kWizardTitle) {
  opener_ = [this](const std::filesystem::path& file, const std::filesystem::path&) {
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(file.string()));
#ifdef _WIN32
    QDesktopServices::openUrl(url);
#else
    // A file that is not there fails silently, as the shell's Open does.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return;
    // Without a desktop launcher the program shows the text itself.
    if (!launcher_(url)) ShowViewer(file, TextEncoding::Utf8OrCp1251, false);
#endif
  };
}

void QtInstallerUi::Attach(TfmFone* fone, QWidget* wizard, TfmProgress* progress) {
  fone_ = fone;
  wizard_ = wizard;
  progress_ = progress;
}

QWidget* QtInstallerUi::DialogParent() const {
  if (wizard_ && wizard_->isVisible()) return wizard_;
  if (progress_ && progress_->isVisible()) return progress_;
  return fone_;
}

// The post-action questions open clear of the progress window, so that its
// stage text, gauge and messages stay in view.
QRect QtInstallerUi::ProgressArea() const {
  return progress_ && progress_->isVisible() ? progress_->frameGeometry() : QRect();
}

void QtInstallerUi::SetStage(const std::string& text) {
  RunOnUiThread([&] { progress_->SetStage(FromCore(text)); });
}

void QtInstallerUi::SetAnimation(Animation kind) {
  RunOnUiThread([&] { progress_->SetAnimation(kind); });
}

void QtInstallerUi::SetElement(const std::string& text) {
  RunOnUiThread([&] { progress_->SetElement(FromCore(text)); });
}

void QtInstallerUi::SetProgressMax(int max) {
  RunOnUiThread([&] { progress_->SetProgressMax(max); });
}

void QtInstallerUi::SetProgress(int position) {
  RunOnUiThread([&] { progress_->SetProgress(position); });
}

int QtInstallerUi::Progress() const { return progress_->Progress(); }
int QtInstallerUi::ProgressMax() const { return progress_->ProgressMax(); }

void QtInstallerUi::SetTimeText(const std::string& text) {
  RunOnUiThread([&] { progress_->SetTimeText(FromCore(text)); });
}

void QtInstallerUi::SetTimeVisible(bool visible) {
  RunOnUiThread([&] { progress_->SetTimeVisible(visible); });
}

void QtInstallerUi::SetGaugeVisible(bool visible) {
  RunOnUiThread([&] { progress_->SetGaugeVisible(visible); });
}

void QtInstallerUi::SetProgressHeight(int height) {
  RunOnUiThread([&] { progress_->SetProgressHeight(height); });
}

void QtInstallerUi::PlaceProgressBesidePicture() {
  RunOnUiThread([&] {
    const QPoint origin = fone_->mapToGlobal(QPoint(0, 0));
    progress_->SetProgressPosition(
        QPoint(origin.x() + fone_->width() - progress_->width(), origin.y() + fone_->PictureBottom() + 20));
    progress_->PlaceProgress();
  });
}

void QtInstallerUi::SetStayOnTop(bool on) {
  RunOnUiThread([&] { progress_->SetStayOnTop(on); });
}

void QtInstallerUi::ShowProgress() {
  RunOnUiThread([&] {
    progress_->show();
    progress_->raise();
  });
}

void QtInstallerUi::HideProgress() {
  RunOnUiThread([&] { progress_->hide(); });
}

void QtInstallerUi::CloseProgress() {
  RunOnUiThread([&] { progress_->hide(); });
}

void QtInstallerUi::RefreshProgress() {
  RunOnUiThread([&] { progress_->repaint(); });
}

void QtInstallerUi::EnterPostActionMode() {
  RunOnUiThread([&] { progress_->EnterPostActionMode(); });
}

void QtInstallerUi::AppendAfterLine(const std::string& text) {
  RunOnUiThread([&] { progress_->AppendAfterLine(FromCore(text)); });
}

void QtInstallerUi::AcceptAbortRequests(bool on) {
  RunOnUiThread([&] { progress_->AcceptAbortRequests(on); });
}

void QtInstallerUi::ClearAbortNotice() {
  RunOnUiThread([&] { progress_->ClearAbortNotice(); });
}

void QtInstallerUi::ShowWizard() {
  // The wizard is back: the application's title is its own again, not the
  // last stage's percentage.
  SetAppTitle(kWizardTitle);
  RunOnUiThread([&] {
    wizard_->show();
    wizard_->raise();
  });
}

void QtInstallerUi::HideWizard() {
  RunOnUiThread([&] { wizard_->hide(); });
}

void QtInstallerUi::SetWizardStayOnTop(bool on) {
  RunOnUiThread([&] { SetStayOnTopFlag(wizard_, on); });
}

void QtInstallerUi::ShowPicture(const std::filesystem::path& file) {
  RunOnUiThread([&] { fone_->ShowPicture(file); });
}

void QtInstallerUi::ShowMessage(const std::string& text) { ShowMessageText(FromCore(text)); }

void QtInstallerUi::ShowMessageText(const QString& text) {
  RunOnUiThread([&] {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kWizardTitle), text, QMessageBox::Ok, DialogParent());
    box.setObjectName("MessageBox");
    box.setTextFormat(Qt::PlainText);  // a server's "<LINK> ..." is text, not markup
    box.exec();
  });
}

bool QtInstallerUi::AskYesNo(const std::string& text, bool defaultNo) {
  bool yes = false;
  RunOnUiThread([&] {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kWizardTitle), FromCore(text),
                    QMessageBox::Yes | QMessageBox::No, DialogParent());
    box.setObjectName("YesNoBox");
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Yes)->setText(QString::fromUtf8("Да"));
    box.button(QMessageBox::No)->setText(QString::fromUtf8("Нет"));
    box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
    yes = box.exec() == QMessageBox::Yes;
  });
  return yes;
}

int QtInstallerUi::RunKelbox(const KelboxRequest& request) {
  int result = 0;
  RunOnUiThread([&] { result = dorvik::RunKelbox(request, DialogParent(), ProgressArea()); });
  return result;
}

std::string QtInstallerUi::AskUser(const std::string& question, const std::string& caption,
                                   const std::string& defaultAnswer) {
  std::string answer;
  RunOnUiThread([&] {
    QString offered = FromCore(defaultAnswer);
    for (;;) {
      const QString typed =
          dorvik::AskUser(FromCore(question), FromCore(caption), offered, DialogParent(), ProgressArea());
      try {
        answer = ToCore(typed);
        return;
      } catch (const TextConversionError&) {
        // The server cannot take this text; ask again with the typed text.
        QMessageBox::warning(DialogParent(), QString::fromUtf8(kWizardTitle),
                             QString::fromUtf8("Ответ содержит символы, которые нельзя передать серверу."));
        offered = typed;
      }
    }
  });
  return answer;
}

void QtInstallerUi::SetAppTitle(const std::string& title) {
  {
    std::lock_guard lock(titleMutex_);
    appTitle_ = title;
  }
  RunOnUiThread([&] {
    if (fone_) fone_->setWindowTitle(FromCore(title));
  });
}

std::string QtInstallerUi::AppTitle() const {
  std::lock_guard lock(titleMutex_);
  return appTitle_;
}

// On the interface thread this lets pending events run; on the worker the
// interface thread is already running its own loop.
void QtInstallerUi::ProcessMessages() {
  if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
    QCoreApplication::processEvents();
  }
}

void QtInstallerUi::ShowProtocol(const std::filesystem::path& file, const std::filesystem::path& workingFolder) {
#ifdef _WIN32
  OpenFile(file, workingFolder);
#else
  (void)workingFolder;
  ShowViewer(file, TextEncoding::Cp1251, true);
#endif
}

// A modal viewer is the protocol's at the end of the program: a file it
// cannot read is said so. The readme's viewer stays open beside the wizard;
// an unreadable readme is passed over as silently as the shell would.
void QtInstallerUi::ShowViewer(const std::filesystem::path& file, TextEncoding encoding, bool modal) {
  RunOnUiThread([&] {
    const std::optional<QString> text = ReadTextFile(file, encoding);
    if (!text) {
      if (modal) {
        ShowMessageText(QString::fromUtf8("Не удаётся прочитать файл\n") +
                        QDir::toNativeSeparators(QString::fromStdU16String(file.u16string())));
      }
      return;
    }
    // Both belong to the window in front (the wizard, which stays on top of
    // everything else), so that they open in front of it.
    if (modal) {
      TfmViewer viewer(file, *text, DialogParent());
      viewer.exec();
      return;
    }
    auto* viewer = new TfmViewer(file, *text, DialogParent());
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
    viewer->raise();
  });
}

void QtInstallerUi::OpenFile(const std::filesystem::path& file, const std::filesystem::path& workingFolder) {
  RunOnUiThread([&] { opener_(file, workingFolder); });
}

}  // namespace dorvik
