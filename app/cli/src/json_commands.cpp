#include "json_commands.h"

#include "cli/install_command.h"
#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "engine/backup.h"
#include "engine/plan.h"

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

std::string NoSetText(const Session& s, const std::optional<std::string>& id) {
  return id ? Ru("В области ") + s.connection.Namespace + Ru(" нет резервной копии ") + *id
            : Ru("В области ") + s.connection.Namespace + Ru(" нет резервных копий");
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
        mismatching.push_back({{"name", name}, {"state", RoutineStateKey(e)}});
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
    std::optional<BackupSetInfo> set;
    if (id) {
      set = FindBackupSet(s.link, *id);
    } else if (auto sets = ListBackupSets(s.link); !sets.empty()) {
      set = sets.back();
    }
    if (!set) return Failed(ui, report, NoSetText(s, id));
    report.extra["backup"] = BackupSetJson(*set);
    if (!SameTextIgnoringCase(set->ns, s.connection.Namespace)) {
      return Failed(ui, report,
                    Ru("Резервная копия ") + set->id + Ru(" сделана в области ") + set->ns + Ru(", а не в ") +
                        s.connection.Namespace);
    }
    const int done = RollBack(s.link, set->id);
    report.changed = set->state != "rolled back";
    report.extra["routines_put_back"] = {{"total", done}, {"restored", set->existed}, {"removed", done - set->existed}};
    return kInstalled;
  } catch (const std::exception& e) {
    return Failed(ui, report, AppFailureLine(e.what()));
  }
}

int RunBackupsJson(Session& s, TerminalUi& ui, const std::optional<std::string>& dropId, CommandReport& report) {
  try {
    if (dropId) {
      if (!DropBackupSet(s.link, *dropId)) return Failed(ui, report, NoSetText(s, dropId));
      report.changed = true;
      report.extra["dropped"] = *dropId;
      return kInstalled;
    }
    Json sets = Json::array();
    for (const auto& b : ListBackupSets(s.link)) sets.push_back(BackupSetJson(b));
    report.extra["sets"] = std::move(sets);
    return kInstalled;
  } catch (const std::exception& e) {
    return Failed(ui, report, AppFailureLine(e.what()));
  }
}

}  // namespace dorvik::cli
