#include "dorpack/distribution_listing.h"

#include "common_texts.h"
#include "distribution/codepage.h"
#include "distribution/damage_texts.h"
#include "distribution/funcs.h"

namespace dorpack {

namespace {

// The texts of this file.
namespace text {

constexpr const char* kDamaged = "файл испорчен: ";
std::string NoLineEnd(const char* section, std::size_t number) {
  return std::string(kDamaged) + "в записи " + std::to_string(number) + " " + section +
         " нет конца строки, поэтому она не называет программу";
}
constexpr const char* kHeaderUnreadable = "заголовок не читается";
std::string NotAFile(const std::string& file) { return file + " не существует или это не файл"; }
std::string NotDistribution(const std::string& fault) { return "не читается как дистрибутив: " + fault; }
constexpr const char* kPostActionWithoutHash = "последействие без «#»";
constexpr const char* kRoutinesWithoutLabel = "программы проверки без метки проверки";
constexpr const char* kLabelWithoutRoutines = "метка проверки без программ проверки";
constexpr const char* kCheckSection = "раздела программ проверки";
constexpr const char* kRoutineSection = "раздела программ";
std::string Unreadable(const std::string& why) { return "файл не читается: " + why; }

}  // namespace text

ListedRoutine DecodeRoutine(const dorvik::DistributionReader& reader, const std::string& record, const char* section,
                            std::size_t number) {
  auto lines = reader.DecodeRoutineLines(record);
  if (lines.empty()) {
    throw ListError(text::NoLineEnd(section, number));
  }
  ListedRoutine routine;
  routine.name = std::move(lines.front());
  lines.erase(lines.begin());
  routine.lines = std::move(lines);
  return routine;
}

// Why ReadHeader said no: the reader's reason (in code page 1251), or the
// reading failure it logged.
std::string HeaderFault(const dorvik::DistributionReader& reader, const dorvik::InstallLog& log) {
  if (!reader.Damage().empty()) return dorvik::Cp1251ToUtf8(reader.Damage());
  static const std::string kFailure = dorvik::AppFailureLine("");
  for (const auto& line : log.Lines()) {
    if (line.rfind(kFailure, 0) == 0) return dorvik::Cp1251ToUtf8(line.substr(kFailure.size()));
  }
  return text::kHeaderUnreadable;
}

}  // namespace

DistributionListing ReadDistributionListing(const std::filesystem::path& dataFile) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(dataFile, ec)) throw ListError(text::NotAFile(dataFile.string()));

  DistributionListing listing;
  dorvik::Distribution& dist = listing.header;
  dorvik::DistributionReader reader(dataFile);
  dorvik::InstallLog log;
  if (!reader.ReadHeader(dist, log)) throw ListError(text::NotDistribution(HeaderFault(reader, log)));
  listing.integrity = reader.Integrity();

  try {
    {
      // The check section: label, post-action list, check routines.
      dorvik::DistributionReader::Section section(reader);
      const std::string label = reader.ReadRequiredRecord(dorvik::damage::kCheckLabel);
      reader.ReadRequiredRecord(dorvik::damage::kPostActionList);
      if (!reader.ParsePostActionList(dist))
        throw ListError(text::kDamaged + std::string(text::kPostActionWithoutHash));
      dist.CheckLabel = dorvik::ShiftText(label, reader.KeyByte());
      reader.ReadRequiredRecord(dorvik::damage::kCheckRoutine);
      if (dist.CheckLabel.empty() && !reader.Record().empty()) {
        throw ListError(text::kDamaged + std::string(text::kRoutinesWithoutLabel));
      }
      if (!dist.CheckLabel.empty() && reader.Record().empty()) {
        throw ListError(text::kDamaged + std::string(text::kLabelWithoutRoutines));
      }
      if (dist.CheckLabel.empty()) {
        reader.ReadRequiredRecord(dorvik::damage::kIgnoredRecord);  // the record that follows the empty one is not used
      } else {
        while (!reader.Record().empty()) {
          listing.checkRoutines.push_back(
              DecodeRoutine(reader, reader.Record(), text::kCheckSection, listing.checkRoutines.size() + 1));
          reader.ReadRequiredRecord(dorvik::damage::kCheckRoutine);
        }
      }
      section.Finish();
    }
    {
      dorvik::DistributionReader::Section section(reader);
      reader.ReadRecord();
      while (!reader.Record().empty()) {
        listing.routines.push_back(
            DecodeRoutine(reader, reader.Record(), text::kRoutineSection, listing.routines.size() + 1));
        reader.ReadRecord();
      }
      section.Finish();
    }
  } catch (const dorvik::DamagedFileError& e) {
    throw ListError(text::kDamaged + dorvik::Cp1251ToUtf8(e.what()));
  } catch (const std::system_error& e) {
    throw ListError(text::Unreadable(common_text::SystemFault(e.code())));
  }
  return listing;
}

}  // namespace dorpack
