#include "engine/distribution_scan.h"

#include <unordered_set>

#include "distribution/codepage.h"
#include "distribution/damage_texts.h"
#include "distribution/funcs.h"
#include "distribution/reader.h"
#include "distribution/routine_name.h"

namespace dorvik {

DistributionOutline ScanDistribution(const std::filesystem::path& dataFile, const RoutineVisitor& visit) {
  DistributionReader r(dataFile);
  Distribution d;
  InstallLog scratch;  // the header lines belong to the installation's log, not here
  if (!r.ReadHeader(d, scratch)) throw DamagedFileError(r.Damage().empty() ? damage::HeaderUnreadable() : r.Damage());

  DistributionReader::Section section(r);
  DistributionOutline outline;
  const std::string storedLabel = r.ReadRequiredRecord(damage::kCheckLabel);
  r.ReadRequiredRecord(damage::kPostActionList);
  if (!r.ParsePostActionList(d)) throw DistributionStructureError(damage::PostActionWithoutPair());
  outline.checkLabel = ShiftText(storedLabel, d.KeyByte);
  outline.postActionDescriptions = d.PostActionDescriptions;
  outline.postActionLabels = d.PostActionLabels;

  std::vector<std::string> lines;
  r.ReadRequiredRecord(damage::kCheckRoutine);
  if (outline.checkLabel.empty() != r.Record().empty()) {
    throw DamagedFileError(outline.checkLabel.empty() ? Ru("Ошибка! Есть программы проверки и нет метки проверки.")
                                                      : Ru("Ошибка! Есть метка проверки и нет программ проверки."));
  }
  if (outline.checkLabel.empty()) {
    r.ReadRequiredRecord(damage::kIgnoredRecord);  // the record after the empty check section is not used
  } else {
    while (!r.Record().empty()) {
      r.DecodeRoutineLines(r.Record(), lines);
      visit(RoutineSection::Check, lines);
      r.ReadRequiredRecord(damage::kCheckRoutine);
    }
  }
  r.ReadRecord();
  while (!r.Record().empty()) {
    r.DecodeRoutineLines(r.Record(), lines);
    visit(RoutineSection::Distribution, lines);
    r.ReadRecord();
  }
  return outline;
}

std::vector<std::string> RoutineNames(const std::filesystem::path& dataFile) {
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  ScanDistribution(dataFile, [&](RoutineSection, const std::vector<std::string>& lines) {
    if (lines.empty() || !IsValidRoutineName(lines[0])) return;
    if (seen.insert(lines[0]).second) names.push_back(lines[0]);
  });
  return names;
}

}  // namespace dorvik
