#include "dorpack/distribution_listing.h"

#include "distribution/codepage.h"
#include "distribution/damage_texts.h"
#include "distribution/funcs.h"

namespace dorpack {

namespace {

ListedRoutine DecodeRoutine(const dorvik::DistributionReader& reader, const std::string& record, const char* section,
                            std::size_t number) {
  auto lines = reader.DecodeRoutineLines(record);
  if (lines.empty()) {
    throw ListError("damaged file: " + std::string(section) + " record " + std::to_string(number) +
                    " has no line end, so it names no routine");
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
  return "the header cannot be read";
}

}  // namespace

DistributionListing ReadDistributionListing(const std::filesystem::path& dataFile) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(dataFile, ec))
    throw ListError(dataFile.string() + " does not exist or is not a file");

  DistributionListing listing;
  dorvik::Distribution& dist = listing.header;
  dorvik::DistributionReader reader(dataFile);
  dorvik::InstallLog log;
  if (!reader.ReadHeader(dist, log)) throw ListError("not a readable distribution: " + HeaderFault(reader, log));
  listing.integrity = reader.Integrity();

  try {
    {
      // The check section: label, post-action list, check routines.
      dorvik::DistributionReader::Section section(reader);
      const std::string label = reader.ReadRequiredRecord(dorvik::damage::kCheckLabel);
      reader.ReadRequiredRecord(dorvik::damage::kPostActionList);
      if (!reader.ParsePostActionList(dist)) throw ListError("damaged file: a post-action without \"#\"");
      dist.CheckLabel = dorvik::ShiftText(label, reader.KeyByte());
      reader.ReadRequiredRecord(dorvik::damage::kCheckRoutine);
      if (dist.CheckLabel.empty() && !reader.Record().empty()) {
        throw ListError("damaged file: check routines without a check label");
      }
      if (!dist.CheckLabel.empty() && reader.Record().empty()) {
        throw ListError("damaged file: a check label without check routines");
      }
      if (dist.CheckLabel.empty()) {
        reader.ReadRequiredRecord(dorvik::damage::kIgnoredRecord);  // the record that follows the empty one is not used
      } else {
        while (!reader.Record().empty()) {
          listing.checkRoutines.push_back(
              DecodeRoutine(reader, reader.Record(), "check routine", listing.checkRoutines.size() + 1));
          reader.ReadRequiredRecord(dorvik::damage::kCheckRoutine);
        }
      }
      section.Finish();
    }
    {
      dorvik::DistributionReader::Section section(reader);
      reader.ReadRecord();
      while (!reader.Record().empty()) {
        listing.routines.push_back(DecodeRoutine(reader, reader.Record(), "routine", listing.routines.size() + 1));
        reader.ReadRecord();
      }
      section.Finish();
    }
  } catch (const dorvik::DamagedFileError& e) {
    throw ListError(std::string("damaged file: ") + dorvik::Cp1251ToUtf8(e.what()));
  } catch (const std::system_error& e) {
    throw ListError(e.what());
  }
  return listing;
}

}  // namespace dorpack
