// Everything the installation asks of the user interface. The Qt windows,
// the command-line installer and the tests each implement it; the core
// never touches a window directly.
//
// All texts are code page 1251 bytes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace dorvik {

enum class Animation { None, FindFolder, FindComputer, CopyFiles };

// The progress window's three heights.
inline constexpr int kProgressCompact = 80;
inline constexpr int kProgressGauge = 117;
inline constexpr int kProgressPostActions = 245;

// The program's own message box: the message, the caption ("" keeps
// "Сообщение"), button captions separated by "_", the number of the button
// that has the focus, the result of Esc (0 or below: Esc does nothing), a
// fixed button width (0: sized to the captions) and an icon file.
struct KelboxRequest {
  std::string message;
  std::string caption;
  std::string buttons;
  int focusButton = 1;
  // The focus button as the caller received it (a post-action's question):
  // when set, the box converts it when it takes its parameters, and a text
  // that is not a whole number is the box's own failure.
  std::optional<std::string> focusButtonText;
  int escResult = 0;
  int buttonWidth = 0;
  std::string iconFile;
};

class InstallerUi {
 public:
  virtual ~InstallerUi() = default;

  // The progress window.
  virtual void SetStage(const std::string& text) = 0;
  virtual void SetAnimation(Animation kind) = 0;
  virtual void SetElement(const std::string& text) = 0;
  virtual void SetProgressMax(int max) = 0;
  virtual void SetProgress(int position) = 0;  // held inside 0..max
  virtual int Progress() const = 0;
  virtual int ProgressMax() const = 0;
  int ProgressPercent() const {
    const int max = ProgressMax();
    return max == 0 ? 0 : static_cast<int>(100LL * Progress() / max);
  }
  virtual void SetTimeText(const std::string& text) = 0;
  virtual void SetTimeVisible(bool visible) = 0;
  virtual void SetGaugeVisible(bool visible) = 0;
  virtual void SetProgressHeight(int height) = 0;
  // Puts the progress window beside the background's picture frame
  // (right edge, below the frame) and remembers that place.
  virtual void PlaceProgressBesidePicture() = 0;
  virtual void SetStayOnTop(bool on) = 0;
  virtual void ShowProgress() = 0;
  virtual void HideProgress() = 0;
  virtual void CloseProgress() = 0;
  virtual void RefreshProgress() = 0;
  // The wide layout with the message list; the small animation replaces
  // the system one.
  virtual void EnterPostActionMode() = 0;
  virtual void AppendAfterLine(const std::string& text) = 0;
  // While the stages that look at UserAbort run, Esc in the background or
  // the progress window shows at once that the request to stop was taken and
  // will be asked about after the current step; the notice goes when the
  // question is asked (ClearAbortNotice) or the stage ends.
  virtual void AcceptAbortRequests(bool on) { (void)on; }
  virtual void ClearAbortNotice() {}

  // The wizard window.
  virtual void ShowWizard() = 0;
  virtual void HideWizard() = 0;
  virtual void SetWizardStayOnTop(bool on) = 0;

  // The background window: loads a picture into its frame and shows the
  // frame. Throws std::runtime_error with a readable message when the file
  // cannot be read as a picture.
  virtual void ShowPicture(const std::filesystem::path& file) = 0;

  // The platform's standard message box with one OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // Yes/No box titled "Velmora Installation Wizard"; true for Yes.
  virtual bool AskYesNo(const std::string& text, bool defaultNo = false) = 0;
  // The program's own message box; answers the number of the button
  // pressed (1 for the first) or the Esc result.
  virtual int RunKelbox(const KelboxRequest& request) = 0;
  // Asks for a line of text; "" when the user cancels.
  virtual std::string AskUser(const std::string& question, const std::string& caption,
                              const std::string& defaultAnswer) = 0;

  virtual void SetAppTitle(const std::string& title) = 0;
  virtual std::string AppTitle() const = 0;

  // Lets the interface repaint and take keys; Esc in the background or the
  // progress window sets the session's UserAbort during this call.
  virtual void ProcessMessages() = 0;

  // The desktop's "Open" of a file; failures are silent.
  virtual void OpenFile(const std::filesystem::path& file, const std::filesystem::path& workingFolder) = 0;
};

}  // namespace dorvik
