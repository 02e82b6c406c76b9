#include "dorpack/listing_output.h"

#include <iomanip>

#include "common_texts.h"

#include "distribution/codepage.h"
#include "distribution/sha256.h"

namespace dorpack {

namespace {

using json = nlohmann::ordered_json;
using dorvik::Cp1251ToUtf8;
using dorvik::Cp866ToUtf8;

// The texts of this file: the captions of the table, padded to one width in
// characters (not bytes: Cyrillic letters take two bytes in UTF-8).
namespace text {

constexpr const char* kProduct = "Продукт:          ";
constexpr const char* kVersion = "Версия:           ";
constexpr const char* kBuildDate = "Дата сборки:      ";
constexpr const char* kKey = "Ключ:             ";
constexpr const char* kPassword = "Пароль:           ";
constexpr const char* kCheckLabel = "Метка проверки:   ";
constexpr const char* kNone = "(нет)";
constexpr const char* kPostActions = "Последействия:    ";
constexpr const char* kCheckRoutines = "Программы проверки";
constexpr const char* kRoutines = "Программы";
constexpr const char* kIntegrity = "Целостность:      ";
std::string Verified(const std::string& digest, std::int64_t bytes) {
  return "проверена, SHA-256 " + digest + " для " + std::to_string(bytes) + " байт";
}
constexpr const char* kNoMarker = "нет отметки целостности (обрезанный файл не всегда можно распознать)";

}  // namespace text

json RoutinesJson(const std::vector<ListedRoutine>& routines) {
  json list = json::array();
  for (const auto& routine : routines) {
    json lines = json::array();
    for (const auto& line : routine.lines) lines.push_back(Cp866ToUtf8(line));
    list.push_back(json{{"name", Cp866ToUtf8(routine.name)}, {"lines", std::move(lines)}});
  }
  return list;
}

// The routine's text size: its lines with their line ends.
std::size_t TextSize(const ListedRoutine& routine) {
  std::size_t size = 0;
  for (const auto& line : routine.lines) size += line.size() + 1;
  return size;
}

void PrintRoutines(const char* title, const std::vector<ListedRoutine>& routines, std::ostream& out) {
  out << title << ": " << routines.size() << "\n";
  std::size_t width = 4;
  for (const auto& routine : routines) width = std::max(width, routine.name.size());
  for (const auto& routine : routines) {
    out << "  " << std::left << std::setw(static_cast<int>(width)) << Cp866ToUtf8(routine.name) << std::right
        << std::setw(10) << routine.lines.size() << " "
        << common_text::PadRight(common_text::Plural(routine.lines.size(), "строка", "строки", "строк"), 6)
        << std::setw(10) << TextSize(routine) << " " << common_text::Plural(TextSize(routine), "байт", "байта", "байт")
        << "\n";
  }
}

}  // namespace

json ListingJson(const DistributionListing& listing) {
  const auto& h = listing.header;
  json actions = json::array();
  for (std::size_t i = 0; i < h.PostActionDescriptions.size(); ++i) {
    actions.push_back(json{{"description", Cp1251ToUtf8(h.PostActionDescriptions[i])},
                           {"label", Cp866ToUtf8(h.PostActionLabels[i])}});
  }
  json out = json::object();
  out["product"] = Cp1251ToUtf8(h.ProductName);
  out["version"] = Cp866ToUtf8(h.Version);
  out["build_date"] = Cp866ToUtf8(h.BuildDate);
  out["key"] = h.KeyByte;
  out["password"] = Cp1251ToUtf8(h.SourcePassword);
  out["check_label"] = Cp866ToUtf8(h.CheckLabel);
  out["post_actions"] = std::move(actions);
  out["check_routines"] = RoutinesJson(listing.checkRoutines);
  out["routines"] = RoutinesJson(listing.routines);
  if (listing.integrity) {
    out["integrity"] = json{{"sha256", dorvik::Sha256::ToHex(listing.integrity->digest)},
                            {"sealed_bytes", listing.integrity->sealedBytes}};
  } else {
    out["integrity"] = nullptr;
  }
  return out;
}

void PrintListing(const DistributionListing& listing, std::ostream& out) {
  const auto& h = listing.header;
  out << text::kProduct << Cp1251ToUtf8(h.ProductName) << "\n"
      << text::kVersion << Cp866ToUtf8(h.Version) << "\n"
      << text::kBuildDate << Cp866ToUtf8(h.BuildDate) << "\n"
      << text::kKey << static_cast<int>(h.KeyByte) << "\n"
      << text::kPassword << Cp1251ToUtf8(h.SourcePassword) << "\n"
      << text::kCheckLabel << (h.CheckLabel.empty() ? text::kNone : Cp866ToUtf8(h.CheckLabel)) << "\n"
      << text::kPostActions << h.PostActionDescriptions.size() << "\n";
  for (std::size_t i = 0; i < h.PostActionDescriptions.size(); ++i) {
    out << "  " << (i + 1) << ". " << Cp1251ToUtf8(h.PostActionDescriptions[i]) << "  ($$"
        << Cp866ToUtf8(h.PostActionLabels[i]) << ")\n";
  }
  PrintRoutines(text::kCheckRoutines, listing.checkRoutines, out);
  PrintRoutines(text::kRoutines, listing.routines, out);
  out << text::kIntegrity
      << (listing.integrity
              ? text::Verified(dorvik::Sha256::ToHex(listing.integrity->digest), listing.integrity->sealedBytes)
              : std::string(text::kNoMarker))
      << "\n";
}

}  // namespace dorpack
