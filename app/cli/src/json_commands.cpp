#include "json_commands.h"

#include "cli/install_command.h"
#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "engine/backup.h"
#include "engine/plan.h"
#include "safety_commands.h"

namespace dorvik::cli {

namespace {

// A failure of the command: said on standard error, and kept as the
// report's error.
int Failed(TerminalUi& ui, CommandReport& report, const std::string& message) {
  ui.ShowMessage(message);
  report.errorStage = report.command;
  report.errorText = message;
  return kInstallFailed;
}

}  // namespace

int RunVerifyJson(Session& s, TerminalUi& ui, CommandReport& report) {
  try {
    const VerifyReport verified = VerifyInstallation(s);
    Json matching = Json::array(), mismatching = Json::array();
    for (const auto& e : verified.routines) {
      const std::string name = Utf8(Cp866ToCp1251(e.name));
      if (VerifyReport::Matches(e)) {
        matching.push_back(name);
      } else {
        mismatching.push_back({{"name", name}, {"state", RoutineListKey(e)}});
      }
    }
    const int checked = static_cast<int>(verified.routines.size());
    report.extra["routines"] = {{"matching", std::move(matching)},
                                {"mismatching", std::move(mismatching)},
                                {"counts",
                                 {{"checked", checked},
                                  {"matching", checked - verified.Mismatches()},
                                  {"mismatching", verified.Mismatches()},
                                  {"without_source", verified.WithoutSource()}}}};
    if (verified.Mismatches() == 0) return kInstalled;
    report.errorStage = "verify";
    report.errorText = Ru("Не совпадают программ: ") + std::to_string(verified.Mismatches());
    return kInstallFailed;
  } catch (const DamagedFileError& e) {
    Failed(ui, report, Ru("Файл данных испорчен: ") + e.what());
    return kBadDistribution;
  } catch (const std::exception& e) {
    return Failed(ui, report, AppFailureLine(e.what()));
  }
}

int RunRollbackJson(Session& s, TerminalUi& ui, const std::optional<std::string>& id, CommandReport& report) {
  try {
    const RollbackReport done = PerformRollback(s, id);
    if (done.set) report.extra["backup"] = BackupSetJson(*done.set);
    if (!done.refusal.empty()) return Failed(ui, report, done.refusal);
    const RollbackResult& r = done.result;
    // A set rolled back before and still the newest: nothing was installed
    // since, so putting its copies back again changes nothing.
    report.changed = done.set->state != "rolled back" && (!r.restored.empty() || !r.removed.empty());
    auto names = [](const std::vector<std::string>& list) {
      Json out = Json::array();
      for (const auto& name : list) out.push_back(Utf8(Cp866ToCp1251(name)));
      return out;
    };
    report.extra["routines_put_back"] = {{"total", r.Done()},
                                         {"restored", r.restored.size()},
                                         {"removed", r.removed.size()},
                                         {"absent", r.absent.size()},
                                         {"skipped", r.skipped.size()},
                                         {"restored_names", names(r.restored)},
                                         {"removed_names", names(r.removed)},
                                         {"skipped_names", names(r.skipped)}};
    // Routines without a whole copy were left as they are: not a success.
    if (!r.skipped.empty()) {
      report.errorStage = "rollback";
      report.errorText = Ru("Не возвращены программы без целой копии: ") + std::to_string(r.skipped.size());
      return kInstallFailed;
    }
    return kInstalled;
  } catch (const std::exception& e) {
    return Failed(ui, report, AppFailureLine(e.what()));
  }
}

int RunBackupsJson(Session& s, TerminalUi& ui, const std::optional<std::string>& dropId, CommandReport& report) {
  try {
    const BackupsReport done = PerformBackups(s, dropId);
    if (!done.refusal.empty()) return Failed(ui, report, done.refusal);
    if (done.dropped) {
      report.changed = true;
      report.extra["dropped"] = *done.dropped;
    }
    Json sets = Json::array();
    for (const auto& b : done.sets) {
      Json set = BackupSetJson(b);
      set["complete"] = b.complete;
      set["state_text"] = Utf8(BackupStateText(b));
      sets.push_back(std::move(set));
    }
    report.extra["sets"] = std::move(sets);
    return kInstalled;
  } catch (const std::exception& e) {
    return Failed(ui, report, AppFailureLine(e.what()));
  }
}

}  // namespace dorvik::cli
