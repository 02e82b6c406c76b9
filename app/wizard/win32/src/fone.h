// fmFone: the full-screen background window, the program's main window. It
// draws the product title with its shadow and the picture frame of the
// restore; Esc on it sets the run's UserAbort (through the progress
// window, which shows the notice); closing it ends the program; activating
// it brings the wizard and the progress window back in front.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>

namespace dorvik::win {

class Progress;

class Fone {
 public:
  explicit Fone(std::function<void()> onClose);
  ~Fone();
  HWND hwnd() const { return window_; }

  void SetCompanions(HWND wizard, Progress* progress);
  void SetTitle(const std::wstring& text);
  const std::wstring& Title() const { return title_; }
  // Decodes the picture and shows it in the frame (throws naming the file).
  void ShowPicture(const std::filesystem::path& file);
  // The frame's bottom edge, in screen coordinates.
  int PictureBottom() const;
  // Shows the window over the whole screen.
  void ShowFullScreen();

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT, WPARAM, LPARAM);
  void Paint();
  void OnActivate();
  RECT Frame() const;

  HWND window_ = nullptr;
  std::function<void()> onClose_;
  HWND wizard_ = nullptr;
  Progress* progress_ = nullptr;
  std::wstring title_ = L"Velmora";
  HFONT titleFont_ = nullptr;
  HBITMAP picture_ = nullptr;
  bool pictureShown_ = false;
  bool activatedOnce_ = false;
  RECT frame_{};
};

}  // namespace dorvik::win
