// fmProgress: the borderless progress window with an animation, the stage
// message, a gauge, the current element and a time text, and in post-action
// mode the scrolling list of the post-actions' messages. Esc in it sets the
// run's UserAbort. Interface thread only.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "animation.h"

namespace dorvik::win {

class Progress {
 public:
  static constexpr int kDesignWidth = 336;
  static constexpr int kPostActionWidth = 600;
  static constexpr int kWideningReference = 350;

  // Created hidden at the compact height, centred on `main` (its owner).
  Progress(HWND main, std::atomic<bool>& userAbort, bool still);
  ~Progress();
  HWND hwnd() const { return window_; }

  void SetStage(const std::wstring& text);
  void SetAnimation(Animation kind);
  void SetElement(const std::wstring& text);
  void SetProgressMax(int max);
  void SetProgress(int position);
  int Position() const { return position_; }
  int Maximum() const { return max_; }
  void SetTimeText(const std::wstring& text);
  void SetTimeVisible(bool visible);
  void SetGaugeVisible(bool visible);
  void SetProgressHeight(int height);
  void SetProgressPosition(POINT at) { positionAt_ = at; }
  void PlaceProgress();
  void SetStayOnTop(bool on);
  bool IsStayOnTop() const;
  void CentreOnMainWindow();
  void EnterPostActionMode();
  void AppendAfterLine(const std::wstring& text);
  void AcceptAbortRequests(bool on);
  void RequestAbort();
  void ClearAbortNotice();
  // The message list, lines separated by carriage returns.
  const std::wstring& AfterText() const { return after_; }

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT, WPARAM, LPARAM);
  void PlaceTimeLabel();
  void PlaceAbortNotice();
  void LayOut();
  void AutoSize(HWND label);

  HWND main_;
  std::atomic<bool>& userAbort_;
  HWND window_ = nullptr;
  std::unique_ptr<AnimationView> Ani;
  HWND lbMes = nullptr;
  HWND gaP = nullptr;
  HWND lbElement = nullptr;
  HWND lbTime = nullptr;
  HWND lbAbort = nullptr;
  HWND ani2 = nullptr;
  HWND pnAfter = nullptr;
  HWND lbAfter = nullptr;
  std::atomic<int> position_{0};
  std::atomic<int> max_{100};
  int gaugeWidth_ = 313;
  int width_ = kDesignWidth;
  int height_ = 80;
  POINT positionAt_{};
  bool postActionMode_ = false;
  bool abortAccepted_ = false;
  std::wstring after_;
};

}  // namespace dorvik::win
