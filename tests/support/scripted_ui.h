// A user interface for tests: records every call in order and answers the
// questions from a script. Texts are kept as the core passes them (code
// page 1251); compare them with Ru("...").
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/ui.h"

namespace dorvik::testing {

class ScriptedUi : public InstallerUi {
 public:
  // Every call as "Name" or "Name:argument", in order.
  std::vector<std::string> calls;
  // Only the texts of ShowMessage, AskYesNo, RunKelbox and AskUser.
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  // For each AskYesNo, whether "Нет" was its default answer.
  std::vector<bool> yesNoDefaultsNo;
  std::vector<std::filesystem::path> pictures;
  std::vector<std::string> afterLines;
  std::vector<std::string> titles;
  std::vector<std::string> timeTexts;

  // Scripted answers, taken in order; an unscripted question fails the test
  // and answers No / the Esc result / "".
  std::deque<bool> yesNo;
  std::deque<int> kelbox;
  std::deque<std::string> askUser;
  // Called on every ProcessMessages with its running number (1, 2, ...):
  // a test sets the session's UserAbort here to play the Esc key.
  std::function<void(int)> onProcessMessages;
  // Makes ShowPicture fail for files that do not exist, as a real decoder would.
  bool picturesMustExist = true;

  int processMessagesCount = 0;

  void SetStage(const std::string& text) override { Record("SetStage", text); }
  void SetAnimation(Animation kind) override { Record("SetAnimation", std::to_string(static_cast<int>(kind))); }
  void SetElement(const std::string& text) override { Record("SetElement", text); }
  void SetProgressMax(int max) override {
    max_ = max;
    position_ = std::clamp(position_, 0, std::max(max_, 0));
    Record("SetProgressMax", std::to_string(max));
  }
  void SetProgress(int position) override {
    position_ = std::clamp(position, 0, std::max(max_, 0));
    Record("SetProgress", std::to_string(position_));
  }
  int Progress() const override { return position_; }
  int ProgressMax() const override { return max_; }
  void SetTimeText(const std::string& text) override {
    timeTexts.push_back(text);
    Record("SetTimeText", text);
  }
  void SetTimeVisible(bool visible) override { Record("SetTimeVisible", visible ? "1" : "0"); }
  void SetGaugeVisible(bool visible) override { Record("SetGaugeVisible", visible ? "1" : "0"); }
  void SetProgressHeight(int height) override { Record("SetProgressHeight", std::to_string(height)); }
  void PlaceProgressBesidePicture() override { Record("PlaceProgressBesidePicture"); }
  void SetStayOnTop(bool on) override { Record("SetStayOnTop", on ? "1" : "0"); }
  void ShowProgress() override { Record("ShowProgress"); }
  void HideProgress() override { Record("HideProgress"); }
  void CloseProgress() override { Record("CloseProgress"); }
  void RefreshProgress() override { Record("RefreshProgress"); }
  void EnterPostActionMode() override { Record("EnterPostActionMode"); }
  void AppendAfterLine(const std::string& text) override {
    afterLines.push_back(text);
    Record("AppendAfterLine", text);
  }
  void AcceptAbortRequests(bool on) override { Record("AcceptAbortRequests", on ? "1" : "0"); }
  void ClearAbortNotice() override { Record("ClearAbortNotice"); }
  void ShowWizard() override { Record("ShowWizard"); }
  void HideWizard() override { Record("HideWizard"); }
  void SetWizardStayOnTop(bool on) override { Record("SetWizardStayOnTop", on ? "1" : "0"); }
  void ShowPicture(const std::filesystem::path& file) override {
    Record("ShowPicture", file.filename().string());
    pictures.push_back(file);
    if (picturesMustExist && !std::filesystem::exists(file)) {
      throw std::runtime_error("cannot open picture " + file.string());
    }
  }
  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    Record("ShowMessage", text);
  }
  bool AskYesNo(const std::string& text, bool defaultNo) override {
    questions.push_back(text);
    Record("AskYesNo", text);
    yesNoDefaultsNo.push_back(defaultNo);
    if (yesNo.empty()) {
      ADD_FAILURE() << "unscripted yes/no question";
      return false;
    }
    const bool answer = yesNo.front();
    yesNo.pop_front();
    return answer;
  }
  int RunKelbox(const KelboxRequest& request) override {
    questions.push_back(request.message);
    Record("RunKelbox", request.message);
    lastKelbox = request;
    if (kelbox.empty()) {
      ADD_FAILURE() << "unscripted message box";
      return request.escResult;
    }
    const int answer = kelbox.front();
    kelbox.pop_front();
    return answer;
  }
  std::string AskUser(const std::string& question, const std::string& caption,
                      const std::string& defaultAnswer) override {
    questions.push_back(question);
    Record("AskUser", question);
    lastAskCaption = caption;
    lastAskDefault = defaultAnswer;
    if (askUser.empty()) {
      ADD_FAILURE() << "unscripted text question";
      return "";
    }
    std::string answer = askUser.front();
    askUser.pop_front();
    return answer;
  }
  void SetAppTitle(const std::string& title) override {
    title_ = title;
    titles.push_back(title);
    Record("SetAppTitle", title);
  }
  std::string AppTitle() const override { return title_; }
  void ProcessMessages() override {
    ++processMessagesCount;
    Record("ProcessMessages");
    if (onProcessMessages) onProcessMessages(processMessagesCount);
  }
  void OpenFile(const std::filesystem::path& file, const std::filesystem::path& workingFolder) override {
    Record("OpenFile", file.filename().string());
    opened.push_back(file);
    (void)workingFolder;
  }

  std::vector<std::filesystem::path> opened;
  KelboxRequest lastKelbox;
  std::string lastAskCaption, lastAskDefault;

  // How many calls of a name were recorded.
  int Count(const std::string& name) const {
    int n = 0;
    for (const auto& c : calls) n += (c == name || c.rfind(name + ":", 0) == 0);
    return n;
  }

 private:
  void Record(const std::string& name, const std::string& arg = {}) {
    calls.push_back(arg.empty() ? name : name + ":" + arg);
  }

  int position_ = 0;
  int max_ = 100;
  std::string title_;
};

}  // namespace dorvik::testing
