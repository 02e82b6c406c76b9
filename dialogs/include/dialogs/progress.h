// The progress window: a borderless window with an animation, the stage
// message, a gauge, the current element and a time text, and in
// post-action mode a scrolling list of the post-actions' messages.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QScrollArea>
#include <QWidget>
#include <atomic>

#include "dialogs/animation_widget.h"

namespace dorvik {

class TfmProgress : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDesignWidth = 336;
  static constexpr int kPostActionWidth = 600;
  static constexpr int kWideningReference = 350;

  explicit TfmProgress(std::atomic<bool>& userAbort);

  // The window the progress window is centred on.
  void SetMainWindow(QWidget* main) { main_ = main; }

  void SetStage(const QString& text);
  void SetAnimation(Animation kind);
  void SetElement(const QString& text);
  void SetProgressMax(int max);
  void SetProgress(int position);
  int Progress() const { return position_; }
  int ProgressMax() const { return max_; }
  void SetTimeText(const QString& text);
  void SetTimeVisible(bool visible);
  void SetGaugeVisible(bool visible);
  void SetProgressHeight(int height);
  void SetProgressPosition(QPoint position) { position_at_ = position; }
  QPoint ProgressPosition() const { return position_at_; }
  void PlaceProgress() { move(position_at_); }
  void SetStayOnTop(bool on);
  bool IsStayOnTop() const;
  void CentreOnMainWindow();
  void EnterPostActionMode();
  void AppendAfterLine(const QString& text);
  // While on, Esc (here or on the background, RequestAbort) shows at once
  // beside the stage text that the request to stop was taken.
  void AcceptAbortRequests(bool on);
  // Esc: sets UserAbort, and shows the notice while requests are accepted.
  void RequestAbort();
  void ClearAbortNotice();
  // The message list's text, lines separated by carriage returns.
  const QString& AfterText() const { return after_; }

  QLabel* lbMes;
  QProgressBar* gaP;
  QLabel* lbElement;
  QLabel* lbTime;
  AnimationWidget* Ani;
  SpinnerWidget* ani2;
  QFrame* pnAfter;
  QScrollArea* sbAfter;
  QLabel* lbAfter;
  QLabel* lbAbort;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceTimeLabel();
  void PlaceAbortNotice();
  void LayoutPanels();

  std::atomic<bool>& userAbort_;
  QPointer<QWidget> main_;
  QFrame* panel_;
  QPoint position_at_;
  std::atomic<int> position_{0};
  std::atomic<int> max_{100};
  bool postActionMode_ = false;
  bool abortAccepted_ = false;
  bool afterFrozen_ = false;
  QString after_;
};

}  // namespace dorvik
