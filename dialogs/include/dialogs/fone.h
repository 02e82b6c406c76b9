// The full-screen background window: the product title with its shadow and
// the frame in which the installation shows its pictures. It is the
// program's main window; Esc on it sets the run's UserAbort flag.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <functional>

namespace dorvik {

class TfmProgress;

class TfmFone : public QWidget {
  Q_OBJECT

 public:
  explicit TfmFone(std::atomic<bool>& userAbort);

  // The windows brought to the front when the background is activated.
  void SetCompanions(QWidget* wizard, TfmProgress* progress);
  // What closing the window does: it is the main window, so closing it
  // ends the program.
  void SetOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }
  void SetTitle(const QString& text);
  QString Title() const { return lbMSH->text(); }
  // Decodes the picture and shows it in the frame; throws
  // std::runtime_error when the file is not a readable JPEG picture.
  void ShowPicture(const std::filesystem::path& file);
  // The frame's bottom edge in the window's coordinates.
  int PictureBottom() const { return pnBevel->geometry().bottom() + 1; }

  QLabel* lbShadow;
  QLabel* lbMSH;
  QFrame* pnBevel;
  QLabel* Image;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnActivate();
  void PlaceFrame();

  std::atomic<bool>& userAbort_;
  QPointer<QWidget> wizard_;
  QPointer<TfmProgress> progress_;
  bool activatedOnce_ = false;
  std::function<void()> onClose_;
};

}  // namespace dorvik
