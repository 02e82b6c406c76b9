// The progress window's animations: Windows' own find-folder, find-computer
// and copy-files animations from shell32.dll in the system animation
// control, which plays them on its own thread; where the system has none
// that move (Wine's are single still frames), the program's own drawing on
// a timer of the interface thread, which the one link thread never blocks.
// Also the small spinner of the post-action layout.
#pragma once

#include <windows.h>

#include "core/ui.h"

namespace dorvik::win {

// How many different pictures the frames of an AVI resource hold (the
// video chunks of its "movi" list compared by their bytes); 0 when the data
// is not an AVI file. An animation moves only with two or more: Wine's
// shell32.dll has the three animations with two frames each, the same.
unsigned AviDistinctFrames(const void* data, unsigned size);

class AnimationView {
 public:
  // `still`: draw the first frame and never move (for screenshots).
  AnimationView(HWND parent, int id, int x, int y, int w, int h, bool still);
  // Shows the kind and starts it; None stops and clears it.
  void SetKind(Animation kind);
  Animation Kind() const { return kind_; }
  // Whether the current kind plays in the system animation control.
  bool UsesSystemAnimation() const { return system_; }
  void Show(bool shown);

 private:
  HWND control_;  // the system animation control
  HWND drawn_;    // the program's own drawing
  Animation kind_ = Animation::None;
  bool system_ = false;
  bool shown_ = true;
  bool still_;
};

// The spinner (ani2): a child window that turns on a timer.
HWND CreateSpinner(HWND parent, int id, int x, int y, int w, int h, bool still);

}  // namespace dorvik::win
