#include <array>
#include <functional>
#include <map>

#include "distribution/codepage.h"
#include "distribution/routine_name.h"
#include "dorpack/package_writer.h"
#include "dorpack/routine_name.h"
#include "common_texts.h"

namespace dorpack {

namespace {

constexpr std::array<std::uint8_t, 4> kSeparatorBytes{13, 10, 64, 35};

// The texts of this file: what is refused, then why.
namespace text {

constexpr const char* kProduct = "название продукта";
constexpr const char* kVersion = "версия";
constexpr const char* kBuildDate = "дата сборки";
constexpr const char* kPassword = "пароль";
constexpr const char* kCheckLabel = "метка проверки";
std::string Description(const std::string& n) { return "описание последействия " + n; }
std::string Label(const std::string& n) { return "метка последействия " + n; }
std::string Line(std::size_t i, const std::string& routine) {
  return "строка " + std::to_string(i + 1) + " программы " + routine;
}
std::string NameOf(const std::string& routine) { return "имя программы " + routine; }
std::string Section(const char* section) {
  return std::string(section) == "check" ? "программа проверки" : "программа дистрибутива";
}

std::string Byte(std::uint8_t b) { return "байт " + std::to_string(b); }
std::string Empty(const std::string& what) { return what + " — пустой текст"; }
std::string CarriageReturn(const std::string& what) { return what + " содержит возврат каретки (байт 13)"; }
std::string LineFeed(const std::string& what) { return what + " содержит перевод строки (байт 10)"; }
std::string ZeroByte(const std::string& what) { return what + " содержит нулевой байт"; }
std::string NotShowable(const std::string& what, const std::string& byte) {
  return what + " содержит " + byte +
         ", который установщик показал бы другим символом (показать можно только ASCII и русские буквы, кроме Ё и ё)";
}
std::string NotAscii(const std::string& what, const std::string& byte) {
  return what + " содержит " + byte + ", который установщик показал бы другим символом (показать можно только ASCII)";
}
std::string ItemSeparator(const std::string& what, char c) {
  return what + " содержит «" + c + "», который разделяет последействия";
}
std::string NotEntryReference(const std::string& what, const std::string& label) {
  return what + " «" + label +
         "» — не ссылка на точку входа, которую примет установщик (метка^программа или ^программа, метка — имя или "
         "цифры)";
}
std::string BadName(const std::string& name) {
  return "«" + name + "» — неверное имя программы (" + common_text::kRoutineNameRule + ")";
}
std::string GivenTwice(const std::string& section, const std::string& name, const std::string& other) {
  return section + " " + name + " задана дважды (ещё и в " + other + ")";
}
constexpr const char* kEarlierEntry = "более раннем элементе списка";
std::string ControlCharacter(const std::string& what) {
  return what + " содержит управляющий символ, который установщик отвергает";
}
constexpr const char* kRoutinesWithoutLabel =
    "программы проверки заданы, а метка проверки нет: установщик отверг бы файл";
constexpr const char* kLabelWithoutRoutines =
    "метка проверки задана, а программ проверки нет: установщик отверг бы файл";
std::string KeySeparator(int key, const std::string& byte) {
  return "ключом " + std::to_string(key) + " содержимое не закодировать: разделитель (" + byte +
         ") был бы записан нулевым байтом";
}
std::string KeyInText(int key, const std::string& what, const std::string& byte, const std::string& keyAt) {
  return "ключом " + std::to_string(key) + " содержимое не закодировать: " + what + " содержит " + byte +
         ", который был бы записан нулевым байтом" + (keyAt.empty() ? "" : " (ключ задан в " + keyAt + ")");
}

}  // namespace text

// "байт 240 («Ё»)": the byte and, when printable, the character it stands
// for in code page 866.
std::string DescribeByte(std::uint8_t b) {
  std::string text = text::Byte(b);
  if (b >= 0x20 && b != 0x7F) {
    text += " («" + dorvik::Cp866ToUtf8(std::string(1, static_cast<char>(b))) + "»)";
  }
  return text;
}

[[noreturn]] void Refuse(const Origin& origin, const std::string& message) { throw PackError(Where(origin) + message); }

void RequireNonEmpty(const PackText& text, const char* what) {
  if (text.bytes.empty()) Refuse(text.origin, text::Empty(what));
}

// Line ends would split the text, a zero byte cannot be stored at all.
void RequireOneLine(std::string_view bytes, const Origin& origin, const std::string& what) {
  for (const char c : bytes) {
    if (c == '\r') Refuse(origin, text::CarriageReturn(what));
    if (c == '\n') Refuse(origin, text::LineFeed(what));
    if (c == '\0') Refuse(origin, text::ZeroByte(what));
  }
}

// The installer shows these texts after converting them with its own 866 to
// 1251 letter table, which carries only ASCII and the Russian letters other
// than Ё and ё; any other byte would reach the user as a different character.
void RequireShowable(const PackText& text, const std::string& what) {
  for (const char c : text.bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    const bool letter = (b >= 0x80 && b <= 0xAF) || (b >= 0xE0 && b <= 0xEF);
    if (b >= 0x80 && !letter) Refuse(text.origin, text::NotShowable(what, DescribeByte(b)));
  }
}

// The wizard shows the version and build date as stored, without converting
// them from code page 866, so only ASCII reaches the user unchanged.
void RequireAscii(const PackText& text, const char* what) {
  for (const char c : text.bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b >= 0x80) Refuse(text.origin, text::NotAscii(what, DescribeByte(b)));
  }
}

void RequireNoItemSeparators(const PackText& text, const std::string& what) {
  for (const char c : text.bytes) {
    if (c == '@' || c == '#') Refuse(text.origin, text::ItemSeparator(what, c));
  }
}

// The installer calls these labels as "$$" + label and refuses any that is
// not an entry reference; the same check refuses them here.
void RequireEntryReference(const PackText& text, const std::string& what) {
  if (!dorvik::IsValidEntryReference(text.bytes)) {
    Refuse(text.origin, text::NotEntryReference(what, dorvik::Cp866ToUtf8(text.bytes)));
  }
}

// Where a routine is named: its file, with the line that names it in a file
// of several routines.
std::string RoutineWhere(const RoutineSpec& routine) {
  return routine.file.empty() ? "" : Where(Origin{routine.file, routine.nameLine});
}

std::string RoutineSource(const RoutineSpec& routine) {
  return routine.file.empty() ? text::kEarlierEntry : FileAndPlace(routine);
}

void CheckRoutines(const std::vector<RoutineSpec>& routines, const char* section) {
  std::map<std::string, const RoutineSpec*> seen;
  for (const auto& routine : routines) {
    if (!IsValidRoutineName(routine.name))
      throw PackError(RoutineWhere(routine) + text::BadName(dorvik::Cp866ToUtf8(routine.name)));
    const auto [it, inserted] = seen.emplace(routine.name, &routine);
    if (!inserted) {
      throw PackError(RoutineWhere(routine) +
                      text::GivenTwice(text::Section(section), routine.name, RoutineSource(*it->second)));
    }
    for (std::size_t i = 0; i < routine.lines.size(); ++i) {
      RequireOneLine(routine.lines[i], LineOrigin(routine, i), text::Line(i, routine.name));
    }
  }
}

// Every text of the body in file order with where it came from.
void ForEachBodyText(const Package& p,
                     const std::function<void(std::string_view, const Origin&, const std::string&)>& fn) {
  fn(p.password.bytes, p.password.origin, text::kPassword);
  fn(p.checkLabel.bytes, p.checkLabel.origin, text::kCheckLabel);
  for (std::size_t i = 0; i < p.postActions.size(); ++i) {
    const auto n = std::to_string(i + 1);
    fn(p.postActions[i].description.bytes, p.postActions[i].description.origin, text::Description(n));
    fn(p.postActions[i].label.bytes, p.postActions[i].label.origin, text::Label(n));
  }
  for (const auto* section : {&p.checkRoutines, &p.routines}) {
    for (const auto& routine : *section) {
      const std::string file = routine.file.empty() ? LineOrigin(routine, 0).file : routine.file;
      fn(routine.name, Origin{file, routine.nameLine}, text::NameOf(routine.name));
      for (std::size_t i = 0; i < routine.lines.size(); ++i) {
        fn(routine.lines[i], LineOrigin(routine, i), text::Line(i, routine.name));
      }
    }
  }
}

}  // namespace

void CheckPackage(const Package& p) {
  RequireNonEmpty(p.product, text::kProduct);
  RequireNonEmpty(p.version, text::kVersion);
  RequireNonEmpty(p.buildDate, text::kBuildDate);
  RequireNonEmpty(p.password, text::kPassword);
  RequireOneLine(p.product.bytes, p.product.origin, text::kProduct);
  RequireOneLine(p.version.bytes, p.version.origin, text::kVersion);
  RequireOneLine(p.buildDate.bytes, p.buildDate.origin, text::kBuildDate);
  RequireOneLine(p.password.bytes, p.password.origin, text::kPassword);
  RequireOneLine(p.checkLabel.bytes, p.checkLabel.origin, text::kCheckLabel);
  RequireShowable(p.product, text::kProduct);
  RequireShowable(p.password, text::kPassword);
  RequireAscii(p.version, text::kVersion);
  RequireAscii(p.buildDate, text::kBuildDate);

  for (std::size_t i = 0; i < p.postActions.size(); ++i) {
    const auto& action = p.postActions[i];
    const auto n = std::to_string(i + 1);
    RequireOneLine(action.description.bytes, action.description.origin, text::Description(n));
    RequireOneLine(action.label.bytes, action.label.origin, text::Label(n));
    RequireNoItemSeparators(action.description, text::Description(n));
    RequireNoItemSeparators(action.label, text::Label(n));
    RequireShowable(action.description, text::Description(n));
    if (action.label.bytes.empty()) Refuse(action.label.origin, text::Empty(text::Label(n)));
    RequireEntryReference(action.label, text::Label(n));
    if (dorvik::HasControlCharacter(action.description.bytes)) {
      Refuse(action.description.origin, text::ControlCharacter(text::Description(n)));
    }
  }
  if (!p.checkLabel.bytes.empty()) RequireEntryReference(p.checkLabel, text::kCheckLabel);

  if (p.checkLabel.bytes.empty() && !p.checkRoutines.empty()) {
    throw PackError(RoutineWhere(p.checkRoutines.front()) + text::kRoutinesWithoutLabel);
  }
  if (!p.checkLabel.bytes.empty() && p.checkRoutines.empty()) Refuse(p.checkLabel.origin, text::kLabelWithoutRoutines);
  CheckRoutines(p.checkRoutines, "check");
  CheckRoutines(p.routines, "distribution");
}

std::uint8_t ResolveKey(const Package& p) {
  if (p.key) {
    const std::uint8_t key = *p.key;
    for (const auto sep : kSeparatorBytes) {
      if (key == sep) Refuse(p.keyOrigin, text::KeySeparator(key, DescribeByte(sep)));
    }
    ForEachBodyText(p, [&](std::string_view bytes, const Origin& origin, const std::string& what) {
      if (bytes.find(static_cast<char>(key)) != std::string_view::npos) {
        const std::string keyAt = p.keyOrigin.file.empty() ? "" : Describe(p.keyOrigin);
        Refuse(origin, text::KeyInText(key, what, DescribeByte(key), keyAt));
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
