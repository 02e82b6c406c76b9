// The one JSON document that dorvik-cli prints on standard output with
// --json, for programs that drive it (configuration management, scripts):
// what the command did, in UTF-8, whatever the outcome. The commands fill a
// CommandReport as they go; the document is written once at the end.
//
// Common members: "command", "status" (the exit status), "changed",
// "product", "version", "build_date", "digest", "namespace", "signature",
// "error" (null, or "stage" and "text"). An installation adds "routines",
// "check_routines", "backup", "post_actions", "log_path" and "record"; the
// other commands add their own members (see docs/fleet.md).
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "engine/backup.h"
#include "engine/install_record.h"
#include "engine/plan.h"
#include "signing/distribution_signature.h"

namespace dorvik::cli {

using Json = nlohmann::ordered_json;

struct CommandReport {
  std::string command;  // "install", "plan", "verify", "rollback", "backups", "history"
  int status = 0;
  bool changed = false;

  // Texts in code page 1251; empty when not known.
  std::string product, version, build, ns;
  std::string digest;
  // The publisher's signature as start-up found it; none before start-up.
  std::optional<signing::SignatureState> signature;

  // Where the command stopped, when it failed: "usage", "start",
  // "connect", "backup", "install", "post_actions", "verify", or the
  // command's name; and the message said about it.
  std::string errorStage, errorText;

  // The installation.
  std::optional<InstallPlan> plan;  // how the routines stood before it
  std::optional<std::string> backupId;
  bool postActionsRun = false;
  std::vector<std::string> postActionLines;
  std::optional<std::string> logPath;  // UTF-8
  std::optional<std::string> recordId;

  // The members of the other commands, already in UTF-8.
  Json extra = Json::object();
};

// Code page 1251 text as UTF-8; a byte without a counterpart becomes "?".
std::string Utf8(const std::string& cp1251);

// A plan's routines as the lists "new", "changed", "unchanged",
// "without_source" and "damaged" (names, distribution routines only) with
// their counts, and the check routines with their states.
Json RoutineLists(const InstallPlan& plan);
Json CheckRoutineStates(const std::vector<RoutineEntry>& routines);
// One routine's state word as plan --json gives it ("new", "changed", ...,
// "does_not_load"), and the list of the other documents it goes into (one
// without source that does not load counts as "without_source" there).
const char* RoutineStateKey(const RoutineEntry& e);
const char* RoutineListKey(const RoutineEntry& e);

Json BackupSetJson(const BackupSetInfo& set);
Json InstallationJson(const InstalledDistribution& entry);

// The whole document.
Json ReportJson(const CommandReport& report);

// Writes the document and a line end to standard output and flushes it.
void PrintReport(const CommandReport& report);

}  // namespace dorvik::cli
