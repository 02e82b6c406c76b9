// The installation's interface operations carried out by the Qt windows.
// Every operation may be called from a worker thread (the installation runs
// on one while the interface thread keeps the windows alive); it is then
// carried out on the interface thread and the caller waits for it.
#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "core/ui.h"
#include "dialogs/text_viewer.h"

namespace dorvik {

class TfmFone;
class TfmProgress;

class QtInstallerUi : public InstallerUi {
 public:
  using FileOpener = std::function<void(const std::filesystem::path&, const std::filesystem::path&)>;
  // Hands a file to the desktop; false when the desktop cannot open it.
  using DesktopLauncher = std::function<bool(const QUrl&)>;

  QtInstallerUi();
  void Attach(TfmFone* fone, QWidget* wizard, TfmProgress* progress);
  // Replaces the desktop's Open (tests record the files instead).
  void SetFileOpener(FileOpener opener) { opener_ = std::move(opener); }
  // Replaces the launcher the default Open tries first (outside Windows,
  // the program's own viewer shows what the desktop cannot open).
  void SetDesktopLauncher(DesktopLauncher launcher) { launcher_ = std::move(launcher); }
  // The install protocol for the user: the shell's Open on Windows;
  // elsewhere the program's own viewer, which reads code page 1251, shown
  // modally (the program is ending).
  void ShowProtocol(const std::filesystem::path& file, const std::filesystem::path& workingFolder);

  void SetStage(const std::string& text) override;
  void SetAnimation(Animation kind) override;
  void SetElement(const std::string& text) override;
  void SetProgressMax(int max) override;
  void SetProgress(int position) override;
  int Progress() const override;
  int ProgressMax() const override;
  void SetTimeText(const std::string& text) override;
  void SetTimeVisible(bool visible) override;
  void SetGaugeVisible(bool visible) override;
  void SetProgressHeight(int height) override;
  void PlaceProgressBesidePicture() override;
  void SetStayOnTop(bool on) override;
  void ShowProgress() override;
  void HideProgress() override;
  void CloseProgress() override;
  void RefreshProgress() override;
  void EnterPostActionMode() override;
  void AppendAfterLine(const std::string& text) override;
  void AcceptAbortRequests(bool on) override;
  void ClearAbortNotice() override;

  void ShowWizard() override;
  void HideWizard() override;
  void SetWizardStayOnTop(bool on) override;

  void ShowPicture(const std::filesystem::path& file) override;

  void ShowMessage(const std::string& text) override;
  // The same box for a text that is already Unicode (a file's path).
  void ShowMessageText(const QString& text);
  bool AskYesNo(const std::string& text, bool defaultNo = false) override;
  int RunKelbox(const KelboxRequest& request) override;
  std::string AskUser(const std::string& question, const std::string& caption,
                      const std::string& defaultAnswer) override;

  void SetAppTitle(const std::string& title) override;
  std::string AppTitle() const override;

  void ProcessMessages() override;
  void OpenFile(const std::filesystem::path& file, const std::filesystem::path& workingFolder) override;

 private:
  QWidget* DialogParent() const;
  QRect ProgressArea() const;
  void ShowViewer(const std::filesystem::path& file, TextEncoding encoding, bool modal);

  QPointer<TfmFone> fone_;
  QPointer<QWidget> wizard_;
  QPointer<TfmProgress> progress_;
  FileOpener opener_;
  DesktopLauncher launcher_;
  mutable std::mutex titleMutex_;
  std::string appTitle_;
};

}  // namespace dorvik
