// What an installation would do, and whether one arrived intact: both read
// the distribution on a reader of their own and ask the server one call per
// routine (CompareRoutine); neither changes anything on the server.
//
// Call them on a session connected to its target namespace (ConnectToServer
// and SwitchToNamespace). They throw DamagedFileError for a data file that
// cannot be read, ServerCallError when the server refuses a call, and pass
// on failures of the link.
#pragma once

#include <string>
#include <vector>

#include "core/session.h"
#include "engine/routine_compare.h"

namespace dorvik {

struct RoutineEntry {
  std::string name;
  bool check = false;    // a check routine (stored before the restore)
  bool damaged = false;  // the record is not a routine the server can take
  RoutineComparison comparison;
};

struct PostActionEntry {
  std::string description;  // code page 1251
  std::string label;
};

struct InstallPlan {
  std::string ns;
  std::string checkLabel;
  bool runPreActions = true;
  bool restoreRoutines = true;
  bool runPostActions = true;
  bool keepSources = false;
  std::vector<RoutineEntry> routines;  // check routines first, in file order
  std::vector<PostActionEntry> postActions;

  // Routines of the distribution (not the check routines) in `state`.
  int Count(RoutineState state) const;
  int Damaged() const;
};

InstallPlan BuildPlan(Session& s);

struct VerifyReport {
  std::vector<RoutineEntry> routines;  // every routine, check routines first
  // A routine matches when its source equals the distribution's text, or,
  // without source, when it is on the server and loads.
  static bool Matches(const RoutineEntry& e);
  int Mismatches() const;
  int WithoutSource() const;
};

VerifyReport VerifyInstallation(Session& s);

}  // namespace dorvik
