// The sizes of the message box and of the question dialog, worked out from
// their texts with a measuring function (the window's font), so that the
// rules can be tested without a window.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui.h"

namespace dorvik::win {

// Width of a text in design pixels.
using Measure = std::function<int(std::wstring_view)>;

struct KelboxLayout {
  int windowWidth = 257;
  int windowHeight = 85;
  int buttonWidth = 0;
  int textLeftMargin = 20;
  int iconWidth = 0;
  int topHeight = 35;
  int labelHeight = 13;
  struct Button {
    int left;
    int top;
    int width;
    int height;
    std::wstring caption;
  };
  std::vector<Button> buttons;
};

// The box for `request` (texts already in UTF-16): the message's width plus
// the margins, or the row of buttons when that is wider; one width for all
// buttons, the row centred. `iconShown` when the icon file exists.
KelboxLayout LayOutKelbox(std::wstring_view message, std::wstring_view captions, int fixedButtonWidth, bool iconShown,
                          const Measure& measure);

// How many lines the question takes in a label `width` wide: the words
// (split at single blanks) counted greedily, a word wider than the label
// taking a line of its own.
int CountQuestionLines(std::wstring_view question, int width, const Measure& measure);

// The question as the label shows it: every word followed by one blank.
std::wstring QuestionLabelText(std::wstring_view question);

}  // namespace dorvik::win
