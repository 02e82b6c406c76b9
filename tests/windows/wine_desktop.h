// A desktop of the lane's own for the Win32 wizard under Wine: an Xvfb
// display with openbox as its window manager, a Russian locale made with
// localedef into the lane's folder (so Wine's code pages are 1251 and 866
// and the system's buttons read "Да" and "Нет"), and a Wine prefix with the
// test VisM control registered. The wizard is driven through the keyboard
// only (xdotool), and the lane waits on windows and files, never on fixed
// sleeps.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace dorvik::testing {

struct ScreenPicture {
  int width = 0;
  int height = 0;
  std::vector<unsigned> pixels;  // 0xRRGGBB, row by row
  unsigned At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

struct WindowBox {
  int x = 0, y = 0, width = 0, height = 0;
};

class WineDesktop {
 public:
  // `folder` holds the locale, the prefix and the display's frame buffer;
  // `control` is the test VisM control to register.
  WineDesktop(std::filesystem::path folder, std::filesystem::path control);
  ~WineDesktop();
  WineDesktop(const WineDesktop&) = delete;
  WineDesktop& operator=(const WineDesktop&) = delete;

  // The environment a Wine program of the lane runs in.
  std::vector<std::string> Environment() const;
  // Starts a Windows program under Wine in `folder`, with `env` added to
  // the lane's environment; answers its process id.
  pid_t Start(const std::vector<std::string>& args, const std::filesystem::path& folder,
              const std::vector<std::string>& env) const;
  // Runs a Wine command to its end (regsvr32, wineserver -w).
  int Wine(const std::vector<std::string>& args) const;

  // xdotool on this display; answers its output.
  std::string Xdo(const std::vector<std::string>& args) const;
  // The id of a visible window whose title matches `titleRegex`, waiting
  // for it to appear (at most `timeout`); "" when none came.
  std::string WaitWindow(const std::string& titleRegex, std::chrono::seconds timeout = std::chrono::seconds(30)) const;
  // Whether such a window is visible now.
  bool HasWindow(const std::string& titleRegex) const;
  // Waits until no visible window's title matches.
  bool WaitWindowGone(const std::string& titleRegex, std::chrono::seconds timeout = std::chrono::seconds(30)) const;
  // Activates the window (Wine delivers keys to the focused window) and
  // presses the keys ("Return", "Tab", "shift+Tab", "space", "Escape").
  void Key(const std::string& window, const std::vector<std::string>& keys) const;
  // Types Cyrillic text into the window: the keyboard layout is switched to
  // Russian for it and back.
  void TypeRussian(const std::string& window, const std::string& utf8) const;
  // Types Latin letters and digits.
  void Type(const std::string& window, const std::string& text) const;
  WindowBox Geometry(const std::string& window) const;

  ScreenPicture Screen() const;
  // Saves the screen as a PNG file.
  void SaveScreen(const std::filesystem::path& png) const;

 private:
  pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, int keepFd = -1,
              const std::filesystem::path& folder = {}) const;

  std::filesystem::path folder_;
  std::filesystem::path prefix_;
  std::filesystem::path locale_;
  std::filesystem::path framebuffer_;
  std::string display_;
  pid_t xvfb_ = -1;
  pid_t openbox_ = -1;
};

// Polls `ready` until it holds or `timeout` passes; the lane's one way to
// wait on a file or a state.
bool WaitFor(const std::function<bool()>& ready, std::chrono::seconds timeout);

}  // namespace dorvik::testing
