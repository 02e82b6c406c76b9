#include "engine/plan.h"

#include <algorithm>

#include "distribution/routine_name.h"
#include "engine/distribution_scan.h"

namespace dorvik {

namespace {

// Every routine of the distribution with its comparison, in file order.
std::vector<RoutineEntry> CompareAll(Session& s, DistributionOutline& outline) {
  std::vector<RoutineEntry> entries;
  outline = ScanDistribution(s.reader.DataFile(), [&](RoutineSection section, const std::vector<std::string>& lines) {
    RoutineEntry e;
    e.check = section == RoutineSection::Check;
    if (lines.empty() || !IsValidRoutineName(lines[0])) {
      e.name = lines.empty() ? std::string() : lines[0];
      e.damaged = true;
    } else {
      e.name = lines[0];
      e.comparison = CompareRoutine(s.link, lines);
    }
    entries.push_back(std::move(e));
  });
  return entries;
}

}  // namespace

int InstallPlan::Count(RoutineState state) const {
  return static_cast<int>(std::count_if(routines.begin(), routines.end(), [&](const RoutineEntry& e) {
    return !e.check && !e.damaged && e.comparison.state == state;
  }));
}

int InstallPlan::Damaged() const {
  return static_cast<int>(
      std::count_if(routines.begin(), routines.end(), [](const RoutineEntry& e) { return e.damaged; }));
}

InstallPlan BuildPlan(Session& s) {
  InstallPlan plan;
  plan.ns = s.connection.Namespace;
  plan.runPreActions = s.options.RunPreActions;
  plan.restoreRoutines = s.options.RestoreRoutines;
  plan.runPostActions = s.options.RunPostActions;
  plan.keepSources = s.options.KeepSources;
  DistributionOutline outline;
  plan.routines = CompareAll(s, outline);
  plan.checkLabel = outline.checkLabel;
  for (std::size_t i = 0; i < outline.postActionLabels.size(); ++i) {
    plan.postActions.push_back({outline.postActionDescriptions.at(i), outline.postActionLabels[i]});
  }
  return plan;
}

bool VerifyReport::Matches(const RoutineEntry& e) {
  return !e.damaged &&
         (e.comparison.state == RoutineState::Unchanged || e.comparison.state == RoutineState::WithoutSource);
}

int VerifyReport::Mismatches() const {
  return static_cast<int>(
      std::count_if(routines.begin(), routines.end(), [](const RoutineEntry& e) { return !Matches(e); }));
}

int VerifyReport::WithoutSource() const {
  return static_cast<int>(std::count_if(routines.begin(), routines.end(), [](const RoutineEntry& e) {
    return !e.damaged && e.comparison.state == RoutineState::WithoutSource;
  }));
}

VerifyReport VerifyInstallation(Session& s) {
  VerifyReport report;
  DistributionOutline outline;
  report.routines = CompareAll(s, outline);
  return report;
}

}  // namespace dorvik
