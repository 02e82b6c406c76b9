#include "layout.h"

#include <algorithm>

namespace dorvik::win {

namespace {

constexpr wchar_t kSeparator = L'_';
constexpr int kMargin = 20;
constexpr int kGap = 5;
constexpr int kButtonTop = 50;
constexpr int kButtonHeight = 25;
constexpr int kMinButtonWidth = 40;
constexpr int kIconPanelWidth = 50;
constexpr int kIconGrowth = 15;

std::vector<std::wstring_view> Split(std::wstring_view text, wchar_t at) {
  std::vector<std::wstring_view> parts;
  for (;;) {
    const auto p = text.find(at);
    parts.push_back(text.substr(0, p));
    if (p == std::wstring_view::npos) return parts;
    text.remove_prefix(p + 1);
  }
}

}  // namespace

KelboxLayout LayOutKelbox(std::wstring_view message, std::wstring_view captions, int fixedButtonWidth, bool iconShown,
                          const Measure& measure) {
  KelboxLayout g;
  if (iconShown) {
    g.iconWidth = kIconPanelWidth;
    g.textLeftMargin += kIconPanelWidth;
    g.topHeight += kIconGrowth;
    g.labelHeight += kIconGrowth;
  }
  const int textWidth = measure(message) + g.textLeftMargin + kMargin;
  const std::vector<std::wstring_view> parts = Split(captions, kSeparator);
  if (fixedButtonWidth > 0) {
    g.buttonWidth = std::max(fixedButtonWidth, kMinButtonWidth);
  } else {
    int widest = kMinButtonWidth;
    for (const auto caption : parts) widest = std::max(widest, measure(caption));
    g.buttonWidth = widest + 10;
  }
  const int count = static_cast<int>(parts.size());
  const int rowWidth = count * (g.buttonWidth + kGap) - kGap + kMargin + kMargin;
  g.windowWidth = std::max(textWidth, rowWidth);
  const int firstLeft = (g.windowWidth - rowWidth) / 2 + kMargin;
  for (int k = 0; k < count; ++k) {
    g.buttons.push_back({firstLeft + k * (g.buttonWidth + kGap), kButtonTop, g.buttonWidth, kButtonHeight,
                         std::wstring(parts[static_cast<std::size_t>(k)])});
  }
  return g;
}

int CountQuestionLines(std::wstring_view question, int width, const Measure& measure) {
  int lines = 1;
  int used = 0;
  for (const auto word : Split(question, L' ')) {
    const int alone = measure(word);
    if (alone > width) {
      ++lines;
      continue;
    }
    used += measure(std::wstring(word) + L' ');
    if (used > width) {
      ++lines;
      used = alone;
    }
  }
  return lines;
}

std::wstring QuestionLabelText(std::wstring_view question) {
  std::wstring shown;
  for (const auto word : Split(question, L' ')) {
    shown += word;
    shown += L' ';
  }
  return shown;
}

}  // namespace dorvik::win
