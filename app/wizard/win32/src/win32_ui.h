// The installation's interface operations carried out by the Win32
// windows. The steps that talk to the server run on the link thread; every
// operation they ask for is carried out on the interface thread (a message
// sent to it) while the link thread waits for it.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "core/ui.h"
#include "wizard_model/link_thread.h"

namespace dorvik::win {

class Fone;
class Progress;

class Win32Ui : public InstallerUi {
 public:
  Win32Ui();
  ~Win32Ui() override;
  void Attach(Fone* fone, HWND wizard, class Progress* progress);
  void SetLinkThread(dorvik::LinkThread* link) { link_ = link; }

  // Runs `step` on the link thread while this (the interface) thread keeps
  // the windows painting and the animations moving; the wizard takes no
  // input meanwhile, the background and the progress window only Esc.
  // A failure the step threw is thrown again here.
  void RunOnLinkThread(const std::function<void()>& step);
  bool Busy() const { return busy_; }

  // The readme and the protocol through the shell's Open (tests may
  // replace it).
  using FileOpener = std::function<void(const std::filesystem::path&, const std::filesystem::path&)>;
  void SetFileOpener(FileOpener opener) { opener_ = std::move(opener); }
  // A message in the standard box, for a text already in UTF-16.
  void ShowMessageText(const std::wstring& text);

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
  bool AskYesNo(const std::string& text, bool defaultNo = false) override;
  int RunKelbox(const KelboxRequest& request) override;
  std::string AskUser(const std::string& question, const std::string& caption,
                      const std::string& defaultAnswer) override;

  void SetAppTitle(const std::string& title) override;
  std::string AppTitle() const override;

  void ProcessMessages() override;
  void OpenFile(const std::filesystem::path& file, const std::filesystem::path& workingFolder) override;

 private:
  void OnUi(const std::function<void()>& fn) const;
  HWND DialogParent() const;
  RECT ProgressArea() const;
  bool HoldInput(const MSG& msg) const;
  static LRESULT CALLBACK SinkProc(HWND, UINT, WPARAM, LPARAM);

  DWORD uiThread_;
  HWND sink_ = nullptr;
  Fone* fone_ = nullptr;
  HWND wizard_ = nullptr;
  class Progress* progress_ = nullptr;
  dorvik::LinkThread* link_ = nullptr;
  bool busy_ = false;
  FileOpener opener_;
  mutable std::mutex titleMutex_;
  std::string appTitle_;
};

}  // namespace dorvik::win
