#include <array>
#include <functional>
#include <map>

#include "distribution/codepage.h"
#include "distribution/routine_name.h"
#include "dorpack/package_writer.h"
#include "dorpack/routine_name.h"

namespace dorpack {

namespace {

constexpr std::array<std::uint8_t, 4> kSeparatorBytes{13, 10, 64, 35};

// "byte 240 (\"Ё\")": the byte and, when printable, the character it stands
// for in code page 866.
std::string DescribeByte(std::uint8_t b) {
  std::string text = "byte " + std::to_string(b);
  if (b >= 0x20 && b != 0x7F) {
    text += " (\"" + dorvik::Cp866ToUtf8(std::string(1, static_cast<char>(b))) + "\")";
  }
  return text;
}

[[noreturn]] void Refuse(const Origin& origin, const std::string& message) { throw PackError(Where(origin) + message); }

void RequireNonEmpty(const PackText& text, const char* what) {
  if (text.bytes.empty()) Refuse(text.origin, std::string(what) + " is empty");
}

// Line ends would split the text, a zero byte cannot be stored at all.
void RequireOneLine(std::string_view bytes, const Origin& origin, const std::string& what) {
  for (const char c : bytes) {
    if (c == '\r') Refuse(origin, what + " holds a carriage return (byte 13)");
    if (c == '\n') Refuse(origin, what + " holds a line feed (byte 10)");
    if (c == '\0') Refuse(origin, what + " holds a zero byte");
  }
}

// The installer shows these texts after converting them with its own 866 to
// 1251 letter table, which carries only ASCII and the Russian letters other
// than Ё and ё; any other byte would reach the user as a different character.
void RequireShowable(const PackText& text, const char* what) {
  for (const char c : text.bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    const bool letter = (b >= 0x80 && b <= 0xAF) || (b >= 0xE0 && b <= 0xEF);
    if (b >= 0x80 && !letter) {
      Refuse(text.origin, std::string(what) + " holds " + DescribeByte(b) +
                              ", which the installer would show as another character"
                              " (only ASCII and the Russian letters without Ё and ё can be shown)");
    }
  }
}

// The wizard shows the version and build date as stored, without converting
// them from code page 866, so only ASCII reaches the user unchanged.
void RequireAscii(const PackText& text, const char* what) {
  for (const char c : text.bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b >= 0x80) {
      Refuse(text.origin, std::string(what) + " holds " + DescribeByte(b) +
                              ", which the installer would show as another character (only ASCII can be shown)");
    }
  }
}

void RequireNoItemSeparators(const PackText& text, const std::string& what) {
  for (const char c : text.bytes) {
    if (c == '@' || c == '#') Refuse(text.origin, what + " holds \"" + c + "\", which separates post-actions");
  }
}

// The installer calls these labels as "$$" + label and refuses any that is
// not an entry reference; the same check refuses them here.
void RequireEntryReference(const PackText& text, const std::string& what) {
  if (!dorvik::IsValidEntryReference(text.bytes)) {
    Refuse(text.origin, what + " \"" + dorvik::Cp866ToUtf8(text.bytes) +
                            "\" is not an entry reference the installer accepts (label^routine or ^routine, "
                            "the label a name or digits)");
  }
}

// Where a routine is named: its file, with the line that names it in a file
// of several routines.
std::string RoutineWhere(const RoutineSpec& routine) {
  return routine.file.empty() ? "" : Where(Origin{routine.file, routine.nameLine});
}

std::string RoutineSource(const RoutineSpec& routine) {
  if (routine.file.empty()) return "an earlier entry";
  return routine.place.empty() ? routine.file : routine.file + ", " + routine.place;
}

void CheckRoutines(const std::vector<RoutineSpec>& routines, const char* section) {
  std::map<std::string, const RoutineSpec*> seen;
  for (const auto& routine : routines) {
    if (!IsValidRoutineName(routine.name)) {
      throw PackError(RoutineWhere(routine) + "\"" + routine.name +
                      "\" is not a valid routine name (a letter or \"%\" first, then letters and "
                      "digits, with single dots between parts)");
    }
    const auto [it, inserted] = seen.emplace(routine.name, &routine);
    if (!inserted) {
      throw PackError(RoutineWhere(routine) + "the " + section + " routine " + routine.name +
                      " is given twice (also by " + RoutineSource(*it->second) + ")");
    }
    for (std::size_t i = 0; i < routine.lines.size(); ++i) {
      RequireOneLine(routine.lines[i], LineOrigin(routine, i),
                     "line " + std::to_string(i + 1) + " of routine " + routine.name);
    }
  }
}

// Every text of the body in file order with where it came from.
void ForEachBodyText(const Package& p,
                     const std::function<void(std::string_view, const Origin&, const std::string&)>& fn) {
  fn(p.password.bytes, p.password.origin, "the password");
  fn(p.checkLabel.bytes, p.checkLabel.origin, "the check label");
  for (std::size_t i = 0; i < p.postActions.size(); ++i) {
    const auto n = std::to_string(i + 1);
    fn(p.postActions[i].description.bytes, p.postActions[i].description.origin, "the description of post-action " + n);
    fn(p.postActions[i].label.bytes, p.postActions[i].label.origin, "the label of post-action " + n);
  }
  for (const auto* section : {&p.checkRoutines, &p.routines}) {
    for (const auto& routine : *section) {
      const std::string file = routine.file.empty() ? "routine " + routine.name : routine.file;
      fn(routine.name, Origin{file, routine.nameLine}, "the name of routine " + routine.name);
      for (std::size_t i = 0; i < routine.lines.size(); ++i) {
        fn(routine.lines[i], LineOrigin(routine, i), "line " + std::to_string(i + 1) + " of routine " + routine.name);
      }
    }
  }
}

}  // namespace

void CheckPackage(const Package& p) {
  RequireNonEmpty(p.product, "the product name");
  RequireNonEmpty(p.version, "the version");
  RequireNonEmpty(p.buildDate, "the build date");
  RequireNonEmpty(p.password, "the password");
  RequireOneLine(p.product.bytes, p.product.origin, "the product name");
  RequireOneLine(p.version.bytes, p.version.origin, "the version");
  RequireOneLine(p.buildDate.bytes, p.buildDate.origin, "the build date");
  RequireOneLine(p.password.bytes, p.password.origin, "the password");
  RequireOneLine(p.checkLabel.bytes, p.checkLabel.origin, "the check label");
  RequireShowable(p.product, "the product name");
  RequireShowable(p.password, "the password");
  RequireAscii(p.version, "the version");
  RequireAscii(p.buildDate, "the build date");

  for (std::size_t i = 0; i < p.postActions.size(); ++i) {
    const auto& action = p.postActions[i];
    const auto n = std::to_string(i + 1);
    RequireOneLine(action.description.bytes, action.description.origin, "the description of post-action " + n);
    RequireOneLine(action.label.bytes, action.label.origin, "the label of post-action " + n);
    RequireNoItemSeparators(action.description, "the description of post-action " + n);
    RequireNoItemSeparators(action.label, "the label of post-action " + n);
    RequireShowable(action.description, ("the description of post-action " + n).c_str());
    if (action.label.bytes.empty()) Refuse(action.label.origin, "the label of post-action " + n + " is empty");
    RequireEntryReference(action.label, "the label of post-action " + n);
    if (dorvik::HasControlCharacter(action.description.bytes)) {
      Refuse(action.description.origin,
             "the description of post-action " + n + " holds a control character, which the installer refuses");
    }
  }
  if (!p.checkLabel.bytes.empty()) RequireEntryReference(p.checkLabel, "the check label");

  if (p.checkLabel.bytes.empty() && !p.checkRoutines.empty()) {
    throw PackError(RoutineWhere(p.checkRoutines.front()) +
                    "check routines are given but no check label: the installer would refuse the file");
  }
  if (!p.checkLabel.bytes.empty() && p.checkRoutines.empty()) {
    Refuse(p.checkLabel.origin, "a check label is given but no check routines: the installer would refuse the file");
  }
  CheckRoutines(p.checkRoutines, "check");
  CheckRoutines(p.routines, "distribution");
}

std::uint8_t ResolveKey(const Package& p) {
  if (p.key) {
    const std::uint8_t key = *p.key;
    for (const auto sep : kSeparatorBytes) {
      if (key == sep) {
        Refuse(p.keyOrigin, "key " + std::to_string(key) + " cannot encode the content: the separator " +
                                DescribeByte(sep) + " would be stored as a zero byte");
      }
    }
    ForEachBodyText(p, [&](std::string_view bytes, const Origin& origin, const std::string& what) {
      if (bytes.find(static_cast<char>(key)) != std::string_view::npos) {
        Refuse(origin, "key " + std::to_string(key) + " cannot encode the content: " + what + " holds " +
                           DescribeByte(key) + ", which would be stored as a zero byte" +
                           (p.keyOrigin.file.empty() ? "" : " (the key is set at " + Describe(p.keyOrigin) + ")"));
      }
    });
    return key;
  }

  std::array<bool, 256> used{};
  for (const auto sep : kSeparatorBytes) used[sep] = true;
  ForEachBodyText(p, [&](std::string_view bytes, const Origin&, const std::string&) {
    for (const char c : bytes) used[static_cast<std::uint8_t>(c)] = true;
  });
  for (int key = 1; key <= 254; ++key) {
    if (!used[static_cast<std::size_t>(key)]) return static_cast<std::uint8_t>(key);
  }
  // The body holds no zero byte, so key 0 always fits.
  return used[255] ? 0 : 255;
}

}  // namespace dorpack
