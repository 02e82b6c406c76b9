// The commands beside the installation (plan, verify, rollback, backups)
// and the backup, rollback and verification around an installation. Each
// works on a session already connected to its target namespace and answers
// an exit status; reports go to standard output, messages to standard error.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/session.h"
#include "engine/backup.h"
#include "locale_text.h"
#include "terminal_ui.h"

namespace dorvik::cli {

int RunPlan(Session& s, TerminalUi& ui, const LocaleText& text, bool json);
int RunVerify(Session& s, TerminalUi& ui, const LocaleText& text);
int RunRollback(Session& s, TerminalUi& ui, const LocaleText& text, const std::optional<std::string>& id);
int RunBackups(Session& s, TerminalUi& ui, const LocaleText& text, const std::optional<std::string>& dropId);

// What `rollback` did, for the printing (text or JSON) to read.
struct RollbackReport {
  std::optional<BackupSetInfo> set;        // the set used, as it was before; none when refused
  std::vector<BackupSetInfo> interrupted;  // the namespace's interrupted sets, newest last
  RollbackResult result;                   // routines restored, removed, absent, skipped
  std::string refusal;                     // why nothing was done (code page 1251); "" when done
};

// Takes set `id`, or the newest complete set, and rolls it back. A
// refusal (no such set, no complete set, another namespace) touches
// nothing. Server failures throw.
RollbackReport PerformRollback(Session& s, const std::optional<std::string>& id);

// What `backups` found or did.
struct BackupsReport {
  std::vector<BackupSetInfo> sets;     // oldest first
  std::optional<std::string> dropped;  // the set removed with --drop
  std::string refusal;                 // why nothing was done (code page 1251); "" when done
};
BackupsReport PerformBackups(Session& s, const std::optional<std::string>& dropId);

// A set's state as said to the user (code page 1251).
std::string BackupStateText(const BackupSetInfo& set);

// Before an installation: a new backup set holding every routine the
// installation may replace (the check routines, the distribution's routines
// and the post-action routine), said on the terminal and in the install log.
// Nothing when it could not be made: the failure has been said and logged,
// and the installation must not start.
std::optional<std::string> TakeBackup(Session& s, TerminalUi& ui);

// After the installation: records its outcome in the set. A failure (the
// server may be gone) is only logged.
void MarkBackup(Session& s, const std::string& id, bool installed);

// After a failed installation with --rollback-on-failure: rolls the set back,
// saying so on the terminal and in the install log.
void RollBackAfterFailure(Session& s, TerminalUi& ui, const std::string& id);

// --verify after an installation: true when every routine matches; the
// routines that do not are said and logged.
bool VerifyAfterInstall(Session& s, TerminalUi& ui);

}  // namespace dorvik::cli
