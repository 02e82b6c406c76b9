// The installer's user interface on a terminal: progress on standard error
// (one redrawn line on a terminal, plain lines otherwise), message boxes as
// lines on standard error, questions from the answers file, their defaults
// or the terminal.
#pragma once

#include <string>
#include <vector>

#include "answer_file.h"
#include "distribution/install_log.h"
#include "locale_text.h"
#include "core/session.h"
#include "core/ui.h"

namespace dorvik::cli {

struct TerminalUiConfig {
  bool quiet = false;
  bool defaults = false;          // every question takes its default
  AnswerFile* answers = nullptr;  // answers to the post-actions' questions
  bool interactive = false;       // questions may be asked on the terminal
  bool progressTerminal = false;  // standard error is a terminal
};

class TerminalUi : public InstallerUi {
 public:
  TerminalUi(const LocaleText& text, TerminalUiConfig config);
  ~TerminalUi() override;

  // The run whose UserAbort Ctrl-C sets and whose log notes defaulted answers.
  void Attach(RunState& run, InstallLog& log);

  // A line of code page 1251 text on standard error.
  void Say(const std::string& text);
  // Whether questions can be asked on the terminal.
  bool Interactive() const { return config_.interactive; }
  // A yes/no question on the terminal; `fallback` without one.
  bool Confirm(const std::string& text, bool defaultYes, bool fallback);

  void SetStage(const std::string& text) override;
  void SetAnimation(Animation) override {}
  void SetElement(const std::string& text) override;
  void SetProgressMax(int max) override;
  void SetProgress(int position) override;
  int Progress() const override { return position_; }
  int ProgressMax() const override { return max_; }
  void SetTimeText(const std::string& text) override;
  void SetTimeVisible(bool visible) override { timeVisible_ = visible; }
  void SetGaugeVisible(bool visible) override { gaugeVisible_ = visible; }
  void SetProgressHeight(int height) override { height_ = height; }
  void PlaceProgressBesidePicture() override {}
  void SetStayOnTop(bool) override {}
  void ShowProgress() override;
  void HideProgress() override;
  void CloseProgress() override;
  void RefreshProgress() override;
  void EnterPostActionMode() override;
  void AppendAfterLine(const std::string& text) override;

  void ShowWizard() override {}
  void HideWizard() override {}
  void SetWizardStayOnTop(bool) override {}
  // The terminal shows no pictures.
  void ShowPicture(const std::filesystem::path&) override {}

  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text, bool defaultNo = false) override;
  int RunKelbox(const KelboxRequest& request) override;
  std::string AskUser(const std::string& question, const std::string& caption,
                      const std::string& defaultAnswer) override;

  // What the run showed, for the JSON report (code page 1251): the messages
  // (errors and refusals), whether the post-action phase began, and the
  // lines the post-actions wrote, even with --quiet.
  const std::vector<std::string>& Messages() const { return messages_; }
  bool PostActionsBegan() const { return postMode_; }
  const std::vector<std::string>& PostActionLines() const { return postLines_; }

  void SetAppTitle(const std::string& title) override { title_ = title; }
  std::string AppTitle() const override { return title_; }
  void ProcessMessages() override;
  void OpenFile(const std::filesystem::path& file, const std::filesystem::path& workingFolder) override;

 private:
  void Render();
  void ClearLine();
  void Write(const std::string& localText);
  // A line typed on the terminal, in code page 1251; false at its end.
  bool ReadAnswer(const std::string& prompt, std::string& answer);
  void NoteDefault(const std::string& why);
  std::string NoAnswerReason() const;
  std::string ProgressLine() const;

  const LocaleText& text_;
  TerminalUiConfig config_;
  RunState* run_ = nullptr;
  InstallLog* log_ = nullptr;

  std::string stage_, element_, timeText_, title_;
  int max_ = 100;
  int position_ = 0;
  int height_ = kProgressCompact;
  bool timeVisible_ = false;
  bool gaugeVisible_ = true;
  bool visible_ = false;
  bool postMode_ = false;
  std::string drawn_;  // the progress line on the terminal, "" when none
  std::string printedStage_, printedElement_;
  std::vector<std::string> messages_, postLines_;
};

}  // namespace dorvik::cli
