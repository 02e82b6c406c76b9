// The wizard's six pages as data: each page's controls with their names,
// texts and design sizes, and its buttons with caption, action and the one
// that is the default. Both front ends build their windows from this table;
// where a control stands on the page is theirs to decide.
//
// Every text is code page 1251, as everywhere in the core.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dorvik {

enum class Page { tsMain, tsLicence, tsParams, tsNS, tsInstall, tsFinal };
inline constexpr int kPageCount = 6;

// The wizard's actions; a button, a key or a tick runs one of them.
enum class Action {
  act0go,
  act1Yes,
  act1Back,
  act2Back,
  act2go,
  act25back,
  act25go,
  act3back,
  act3Install,
  actFin,
  actExit,
  actSoPass,
  actNoRes,
  actNoAfter,
};
inline constexpr int kActionCount = 14;

// The check boxes: the three options of the namespace page and the
// protocol box of the result page.
enum class Check { chSPass, chNoRestore, chNoAfter, chProtocol };
inline constexpr int kCheckCount = 4;

// The fields the user types into.
enum class Field { edIP, mePort };

// The window's design, in pixels: the client area, the page area at its
// right, the bottom strip of every page with its buttons, the picture panel
// at the left.
inline constexpr int kWizardClientWidth = 551;
inline constexpr int kWizardClientHeight = 329;
inline constexpr int kPagerWidth = 391;
inline constexpr int kStripHeight = 45;
inline constexpr int kStripButtonWidth = 81;
inline constexpr int kStripButtonHeight = 23;
struct DesignRect {
  int left, top, width, height;
};
inline constexpr DesignRect kImagePanel{32, 24, 121, 265};

enum class ControlKind {
  Picture,  // a decorative picture, drawn by the front end (Image2)
  Heading,  // a bold line
  Text,     // a plain label; its text may hold line breaks ("\n")
  Memo,     // a read-only text box whose lines the model gives
  Edit,     // a one-line field
  List,     // the namespace list
  Notice,   // the library notice that stands in for the list
  Check,    // a check box
  Outcome,  // one of the two result texts, of which the model shows one
};

enum class Scrollbars { None, Vertical, Both };

struct ControlSpec {
  ControlKind kind = ControlKind::Text;
  std::string name;  // "" for a label nothing refers to
  std::string text;  // caption or initial text
  bool visible = true;
  // Design size; 0 leaves it to the front end.
  int width = 0;
  int height = 0;
  // Memo: border and scroll bars; lines wrap unless both bars are there.
  bool framed = false;
  Scrollbars scrollbars = Scrollbars::None;
  // Edit: most characters taken (0: no limit) and whether it takes digits
  // only (and the blanks of a field not filled to its length).
  int maxLength = 0;
  bool digitsOnly = false;
  std::string hint;  // tool tip
};

struct ButtonSpec {
  std::string name;
  std::string caption;
  Action action;
  // Place in the bottom strip: 0 back, 1 forward, 2 cancel, left to right.
  int slot;
  bool isDefault = false;
};

struct PageSpec {
  Page page;
  std::string name;
  std::vector<ControlSpec> controls;  // top to bottom
  std::vector<ButtonSpec> buttons;    // left to right
  // The button Enter presses when the focus is on no button; none on the
  // licence page.
  const ButtonSpec* DefaultButton() const;
  const ControlSpec* FindControl(std::string_view controlName) const;
  const ButtonSpec* FindButton(std::string_view buttonName) const;
};

// The page's controls and buttons; the same object on every call.
const PageSpec& PageLayout(Page page);

const char* PageName(Page page);        // "tsMain"
const char* ActionName(Action action);  // "act2go"
const char* CheckName(Check check);     // "chSPass"
const char* FieldName(Field field);     // "edIP"
// The action's caption ("Далее", "Выход из установки", a box's text).
const std::string& ActionCaption(Action action);
// The action a ticked box runs; chProtocol runs none.
std::optional<Action> ActionOfCheck(Check check);

// The standard boxes' title and the start of the wizard's own title.
inline constexpr const char* kWizardTitle = "Velmora Installation Wizard";

}  // namespace dorvik
