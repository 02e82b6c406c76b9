// dorvik-cli's use of the installed-distributions record (^DorvikInstalled,
// engine/install_record.h): the history command, the entry added after a
// successful installation, and the test of --if-changed, whether the
// namespace already holds this exact distribution.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/session.h"
#include "engine/install_record.h"
#include "engine/plan.h"
#include "json_report.h"
#include "locale_text.h"
#include "terminal_ui.h"

namespace dorvik::cli {

struct InstalledState {
  // The namespace holds this distribution: the newest entry not rolled back
  // has the same digest, and every routine passes verify's check.
  bool same = false;
  std::optional<InstalledDistribution> current;
  int mismatches = 0;  // routines that fail verify's check
  // Why it is not the same (code page 1251); empty when it is.
  std::string reason;
};

// Compares the record and `routines` (a plan or verify of the session's
// distribution, check routines included) with the distribution of digest
// `digest`. Reads the record: throws as ListInstallations does.
InstalledState CompareWithInstalled(ServerLink& link, const std::vector<RoutineEntry>& routines,
                                    const std::string& digest);

// After a successful installation: adds its entry, said on the terminal
// (the install log keeps the wizard's form and ends with the duration).
// Nothing when the server refused, said on the terminal and in the log: the
// installation itself stands.
std::optional<std::string> RecordAfterInstall(Session& s, TerminalUi& ui, const std::string& digest,
                                              const std::optional<std::string>& backupId);

// The history command: the namespace's entries, oldest first, as text on
// standard output, or into `json` ("installations", "current").
int RunHistory(Session& s, TerminalUi& ui, const LocaleText& text, CommandReport* json);

}  // namespace dorvik::cli
