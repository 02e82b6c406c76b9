// verify, rollback and backups with --json: the same work as their text
// forms, with the outcome put into the command's JSON report instead of
// lines on standard output. Messages still go to standard error. Each
// answers the exit status and never throws.
#pragma once

#include <optional>
#include <string>

#include "core/session.h"
#include "json_report.h"
#include "terminal_ui.h"

namespace dorvik::cli {

// "routines": "matching" (names), "mismatching" (name and state) and
// "counts"; status 1 when a routine does not match.
int RunVerifyJson(Session& s, TerminalUi& ui, CommandReport& report);

// "backup" (the set as it was before), "routines_put_back"; "changed" is
// false when the set had been rolled back already.
int RunRollbackJson(Session& s, TerminalUi& ui, const std::optional<std::string>& id, CommandReport& report);

// "sets", or with --drop "dropped".
int RunBackupsJson(Session& s, TerminalUi& ui, const std::optional<std::string>& dropId, CommandReport& report);

}  // namespace dorvik::cli
