#include "safety_commands.h"

#include "json_report.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/install_command.h"
#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "engine/backup.h"
#include "engine/distribution_scan.h"
#include "engine/install_record.h"
#include "install_history.h"
#include "json_report.h"
#include "engine/plan.h"

namespace dorvik::cli {

namespace {

// Said wherever a rollback is offered or done.
std::string PostActionsWarning() {
  return Ru("Откат возвращает только программы: данные, измененные последействиями, он не восстанавливает.");
}

void Print(const LocaleText& text, const std::string& cp1251) {
  std::fputs(text.Show(cp1251).c_str(), stdout);
  std::fputc('\n', stdout);
}

// A routine name as the server holds it (code page 866), for showing.
std::string NameText(const std::string& name) { return Cp866ToCp1251(name); }

std::string StateText(const RoutineEntry& e) {
  if (e.damaged) return Ru("запись испорчена");
  switch (e.comparison.state) {
    case RoutineState::New:
      return Ru("новая");
    case RoutineState::Unchanged:
      return Ru("без изменений");
    case RoutineState::Changed:
      return Ru("изменена: +") + std::to_string(e.comparison.added) + " -" + std::to_string(e.comparison.removed);
    case RoutineState::WithoutSource:
      return Ru("есть без исходника");
    case RoutineState::DoesNotLoad:
      return Ru("есть без исходника, не загружается");
  }
  return {};
}

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

void PrintPlanText(Session& s, const InstallPlan& plan, const LocaleText& text) {
  Print(text, Ru("План установки ") + s.dist.ProductName + " " + s.dist.Version + Ru(" в область ") + plan.ns +
                  Ru(" (на сервере ничего не изменено)"));
  if (plan.checkLabel.empty()) {
    Print(text, Ru("Метки проверки нет."));
  } else {
    Print(text,
          Ru("Метка проверки: ") + plan.checkLabel + (plan.runPreActions ? std::string() : Ru(" (не будет вызвана)")));
  }
  bool checkHeader = false, routineHeader = false;
  for (const auto& e : plan.routines) {
    if (e.check && !checkHeader) {
      Print(text, Ru("Программы проверки:"));
      checkHeader = true;
    }
    if (!e.check && !routineHeader) {
      Print(text, plan.restoreRoutines ? Ru("Программы дистрибутива:")
                                       : Ru("Программы дистрибутива (не будут восстановлены):"));
      routineHeader = true;
    }
    Print(text, "  " + Padded(NameText(e.name), 12) + " " + StateText(e));
  }
  if (plan.postActions.empty()) {
    Print(text, Ru("Последействий нет."));
  } else {
    Print(text, plan.runPostActions ? Ru("Последействия:") : Ru("Последействия (не будут выполнены):"));
    for (const auto& p : plan.postActions) Print(text, "  " + p.description + " (" + p.label + ")");
  }
  const int total = static_cast<int>(plan.routines.size()) -
                    static_cast<int>(std::count_if(plan.routines.begin(), plan.routines.end(),
                                                   [](const RoutineEntry& e) { return e.check; }));
  Print(text, Ru("Итого программ: ") + std::to_string(total) + Ru("; новых ") +
                  std::to_string(plan.Count(RoutineState::New)) + Ru(", без изменений ") +
                  std::to_string(plan.Count(RoutineState::Unchanged)) + Ru(", изменено ") +
                  std::to_string(plan.Count(RoutineState::Changed)) + Ru(", без исходника ") +
                  std::to_string(plan.Count(RoutineState::WithoutSource) + plan.Count(RoutineState::DoesNotLoad)) +
                  (plan.Damaged() > 0 ? Ru(", испорченных записей ") + std::to_string(plan.Damaged()) : "") + ".");
}

void PrintPlanJson(Session& s, const InstallPlan& plan) {
  const LocaleText utf8("UTF-8");
  const auto u = [&](const std::string& cp1251) { return utf8.Show(cp1251); };
  nlohmann::ordered_json doc;
  doc["product"] = u(s.dist.ProductName);
  doc["version"] = u(s.dist.Version);
  doc["build_date"] = u(s.dist.BuildDate);
  doc["namespace"] = u(plan.ns);
  // Whether an installation with --if-changed would do anything.
  doc["digest"] = DistributionDigest(s.files.DataFilePath);
  doc["up_to_date"] = CompareWithInstalled(s.link, plan.routines, doc["digest"].get<std::string>()).same;
  doc["check_label"] =
      plan.checkLabel.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(plan.checkLabel);
  doc["run_pre_actions"] = plan.runPreActions;
  doc["restore_routines"] = plan.restoreRoutines;
  doc["run_post_actions"] = plan.runPostActions;
  doc["keep_sources"] = plan.keepSources;
  nlohmann::ordered_json checks = nlohmann::ordered_json::array(), routines = nlohmann::ordered_json::array();
  for (const auto& e : plan.routines) {
    nlohmann::ordered_json r;
    r["name"] = u(NameText(e.name));
    r["state"] = RoutineStateKey(e);
    if (!e.damaged && e.comparison.state == RoutineState::Changed) {
      r["lines_added"] = e.comparison.added;
      r["lines_removed"] = e.comparison.removed;
    }
    (e.check ? checks : routines).push_back(std::move(r));
  }
  doc["check_routines"] = std::move(checks);
  doc["routines"] = std::move(routines);
  nlohmann::ordered_json posts = nlohmann::ordered_json::array();
  for (const auto& p : plan.postActions) posts.push_back({{"description", u(p.description)}, {"label", u(p.label)}});
  doc["post_actions"] = std::move(posts);
  doc["totals"] = {{"routines", plan.Count(RoutineState::New) + plan.Count(RoutineState::Unchanged) +
                                    plan.Count(RoutineState::Changed) + plan.Count(RoutineState::WithoutSource) +
                                    plan.Count(RoutineState::DoesNotLoad) + plan.Damaged()},
                   {"new", plan.Count(RoutineState::New)},
                   {"unchanged", plan.Count(RoutineState::Unchanged)},
                   {"changed", plan.Count(RoutineState::Changed)},
                   {"without_source", plan.Count(RoutineState::WithoutSource) + plan.Count(RoutineState::DoesNotLoad)},
                   {"damaged", plan.Damaged()}};
  std::fputs((doc.dump(2) + "\n").c_str(), stdout);
}

// The backup and rollback texts said to the user (code page 1251).
std::string NoSetText(const Session& s, const std::string& id) {
  return Ru("В области ") + s.connection.Namespace + Ru(" нет резервной копии ") + id;
}
std::string NoSetsText(const Session& s) {
  return Ru("В области ") + s.connection.Namespace + Ru(" нет резервных копий");
}
std::string NoCompleteSetText(const Session& s) {
  return Ru("В области ") + s.connection.Namespace +
         Ru(" нет полной резервной копии: откат без --backup не выполняется, ничего не изменено");
}
std::string OtherNamespaceText(const BackupSetInfo& set, const Session& s) {
  return Ru("Резервная копия ") + set.id + Ru(" сделана в области ") + set.ns + Ru(", а не в ") +
         s.connection.Namespace;
}

// What an interrupted set holds, and what the user may do with it.
std::string InterruptedSetText(const BackupSetInfo& b) {
  std::string line = Ru("Резервная копия ") + b.id + " (" + b.time + ") " + Ru("прервана: целые копии у ") +
                     std::to_string(b.copied) + Ru(" программ");
  if (b.planned > 0) line += Ru(" из ") + std::to_string(b.planned);
  line += Ru(" (из них были в области до установки ") + std::to_string(b.copiedExisted) + ").";
  return line;
}
std::string InterruptedSetHint(const BackupSetInfo& b) {
  return Ru("Откат без --backup ее не берет; откат по ней (только целые копии): dorvik-cli rollback --backup ") + b.id +
         Ru("; удалить ее: dorvik-cli backups --drop ") + b.id;
}

std::string NamesText(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + NameText(name);
  return text;
}

// The counts of what a rollback did, in one line.
std::string RollbackCountsText(const RollbackResult& r) {
  return Ru("Программы возвращены: ") + std::to_string(r.Done()) + Ru(" (восстановлено ") +
         std::to_string(r.restored.size()) + Ru(", удалено новых ") + std::to_string(r.removed.size()) +
         Ru(", новых, которых не было на сервере, ") + std::to_string(r.absent.size()) + ").";
}
std::string SkippedText(const RollbackResult& r) {
  return Ru("Не тронуты, нет целой копии: ") + std::to_string(r.skipped.size()) + ": " + NamesText(r.skipped);
}

std::string SetLine(const BackupSetInfo& b) {
  std::string counts =
      b.complete ? Ru("программ ") + std::to_string(b.count) + Ru(", было до установки ") + std::to_string(b.existed)
                 : Ru("целых копий программ ") + std::to_string(b.copied) +
                       (b.planned > 0 ? Ru(" из ") + std::to_string(b.planned) : std::string()) +
                       Ru(", было до установки ") + std::to_string(b.copiedExisted);
  return b.id + "  " + b.time + "  " + b.product + " " + b.version + " (" + b.build + ")  " + b.ns + "  " + counts +
         "  " + BackupStateText(b);
}

std::vector<BackupSetInfo> Interrupted(const std::vector<BackupSetInfo>& sets) {
  std::vector<BackupSetInfo> out;
  std::copy_if(sets.begin(), sets.end(), std::back_inserter(out), [](const BackupSetInfo& b) { return !b.complete; });
  return out;
}

// The failure of a command's server work, said and logged.
int CommandFailed(Session& s, TerminalUi& ui, const std::exception& e) {
  ui.ShowMessage(AppFailureLine(e.what()));
  LogAppFailure(s, e.what());
  return kInstallFailed;
}

}  // namespace

int RunPlan(Session& s, TerminalUi& ui, const LocaleText& text, bool json) {
  try {
    const InstallPlan plan = BuildPlan(s);
    if (json) {
      PrintPlanJson(s, plan);
    } else {
      PrintPlanText(s, plan, text);
    }
    std::fflush(stdout);
    return kInstalled;
  } catch (const DamagedFileError& e) {
    ui.ShowMessage(Ru("Файл данных испорчен: ") + e.what());
    return kBadDistribution;
  } catch (const std::exception& e) {
    return CommandFailed(s, ui, e);
  }
}

int RunVerify(Session& s, TerminalUi& ui, const LocaleText& text) {
  try {
    const VerifyReport report = VerifyInstallation(s);
    // Who made the distribution the routines are compared against.
    Print(text, signing::SignatureSummary(s.signature));
    for (const auto& e : report.routines) {
      if (!VerifyReport::Matches(e)) Print(text, Padded(NameText(e.name), 12) + " " + StateText(e));
    }
    const int checked = static_cast<int>(report.routines.size());
    Print(text, Ru("Проверено программ: ") + std::to_string(checked) + Ru("; совпадают ") +
                    std::to_string(checked - report.Mismatches()) +
                    Ru(" (из них без исходника, проверено только "
                       "наличие и загрузка: ") +
                    std::to_string(report.WithoutSource()) + Ru("), не совпадают ") +
                    std::to_string(report.Mismatches()) + ".");
    std::fflush(stdout);
    return report.Mismatches() == 0 ? kInstalled : kInstallFailed;
  } catch (const DamagedFileError& e) {
    ui.ShowMessage(Ru("Файл данных испорчен: ") + e.what());
    return kBadDistribution;
  } catch (const std::exception& e) {
    return CommandFailed(s, ui, e);
  }
}

std::string BackupStateText(const BackupSetInfo& set) {
  if (!set.complete) return Ru("копия прервана, неполна");
  if (set.state == "ready") return Ru("готова, установка не отмечена как законченная");
  if (set.state == "installed") return Ru("установка выполнена");
  if (set.state == "failed") return Ru("установка не удалась");
  if (set.state == "rolled back") return Ru("откат выполнен");
  return set.state;
}

RollbackReport PerformRollback(Session& s, const std::optional<std::string>& id) {
  RollbackReport report;
  const std::vector<BackupSetInfo> sets = ListBackupSets(s.link);
  report.interrupted = Interrupted(sets);
  if (id) {
    const auto it = std::find_if(sets.begin(), sets.end(), [&](const BackupSetInfo& b) { return b.id == *id; });
    if (it != sets.end()) report.set = *it;
    if (!report.set) report.refusal = NoSetText(s, *id);
  } else {
    report.set = NewestCompleteSet(sets);
    if (!report.set) report.refusal = sets.empty() ? NoSetsText(s) : NoCompleteSetText(s);
  }
  if (report.set && !SameTextIgnoringCase(report.set->ns, s.connection.Namespace)) {
    report.refusal = OtherNamespaceText(*report.set, s);
  }
  if (!report.refusal.empty()) return report;
  report.result = RollBack(s.link, report.set->id);
  return report;
}

int RunRollback(Session& s, TerminalUi& ui, const LocaleText& text, const std::optional<std::string>& id) {
  try {
    const RollbackReport report = PerformRollback(s, id);
    if (!report.refusal.empty()) {
      ui.ShowMessage(report.refusal);
      for (const auto& b : report.interrupted) {
        ui.ShowMessage(InterruptedSetText(b));
        ui.ShowMessage(InterruptedSetHint(b));
      }
      return kInstallFailed;
    }
    Print(text, Ru("Откат к резервной копии ") + SetLine(*report.set));
    if (!report.set->complete) Print(text, InterruptedSetText(*report.set));
    Print(text, PostActionsWarning());
    Print(text, RollbackCountsText(report.result));
    if (!report.result.skipped.empty()) Print(text, SkippedText(report.result));
    std::fflush(stdout);
    return report.result.skipped.empty() ? kInstalled : kInstallFailed;
  } catch (const std::exception& e) {
    return CommandFailed(s, ui, e);
  }
}

BackupsReport PerformBackups(Session& s, const std::optional<std::string>& dropId) {
  BackupsReport report;
  if (dropId) {
    if (DropBackupSet(s.link, *dropId)) {
      report.dropped = *dropId;
    } else {
      report.refusal = NoSetText(s, *dropId);
    }
    return report;
  }
  report.sets = ListBackupSets(s.link);
  return report;
}

int RunBackups(Session& s, TerminalUi& ui, const LocaleText& text, const std::optional<std::string>& dropId) {
  try {
    const BackupsReport report = PerformBackups(s, dropId);
    if (!report.refusal.empty()) {
      ui.ShowMessage(report.refusal);
      return kInstallFailed;
    }
    if (report.dropped) {
      Print(text, Ru("Резервная копия ") + *report.dropped + Ru(" удалена."));
      return kInstalled;
    }
    if (report.sets.empty()) Print(text, NoSetsText(s) + ".");
    for (const auto& b : report.sets) Print(text, SetLine(b));
    for (const auto& b : Interrupted(report.sets)) {
      Print(text, InterruptedSetText(b));
      Print(text, InterruptedSetHint(b));
    }
    if (!report.sets.empty()) Print(text, PostActionsWarning());
    std::fflush(stdout);
    return kInstalled;
  } catch (const std::exception& e) {
    return CommandFailed(s, ui, e);
  }
}

std::optional<std::string> TakeBackup(Session& s, TerminalUi& ui) {
  const auto sayAndLog = [&](const std::string& line) {
    s.log.Add(line);
    ui.Say(line);
  };
  try {
    std::vector<std::string> names = RoutineNames(s.reader.DataFile());
    // The post-action runner stores its generated routine under this name.
    if (s.options.RunPostActions &&
        std::find(names.begin(), names.end(), s.files.PostActionRoutineName) == names.end()) {
      names.push_back(s.files.PostActionRoutineName);
    }
    // A backup cut short earlier is said, never dropped: that is the user's choice.
    for (const auto& b : Interrupted(ListBackupSets(s.link))) {
      s.log.Add("");
      sayAndLog(InterruptedSetText(b));
      sayAndLog(InterruptedSetHint(b));
    }
    const std::string id = BeginBackupSet(s.link, s.dist, names.size());
    BackupRoutines(s.link, id, names);
    const BackupCounts counts = FinishBackupSet(s.link, id);
    s.log.Add("");
    sayAndLog(Ru("Резервная копия ") + id + Ru(": программ ") + std::to_string(counts.count) +
              Ru(", из них уже были в области ") + std::to_string(counts.existed) + ".");
    return id;
  } catch (const DistributionStructureError& e) {
    // Found by reading the whole file before anything is installed: said as
    // the check stage says it.
    s.reader.NoteDamage(e.what());
    const std::string structure = Ru("Ошибка в структуре дистрибутива");
    ui.ShowMessage(structure);
    s.log.Add(structure + ": " + e.what());
    s.log.Add(Ru("Резервная копия не сделана, установка не выполнялась."));
    return std::nullopt;
  } catch (const std::exception& e) {
    // Other damage found there refuses the file before anything is installed.
    if (dynamic_cast<const DamagedFileError*>(&e) != nullptr) s.reader.NoteDamage(e.what());
    const std::string line = Ru("Резервная копия не сделана, установка не выполнялась: ") + e.what();
    ui.ShowMessage(line);
    s.log.Add(line);
    return std::nullopt;
  }
}

void MarkBackup(Session& s, const std::string& id, bool installed) {
  try {
    SetBackupState(s.link, id, installed ? "installed" : "failed");
  } catch (const std::exception& e) {
    LogAppFailure(s, e.what());
  }
}

void RollBackAfterFailure(Session& s, TerminalUi& ui, const std::string& id) {
  const auto say = [&](const std::string& line) {
    s.log.Add(line);
    ui.Say(line);
  };
  s.log.Add("");
  say(Ru("Установка не удалась: откат к резервной копии ") + id + ".");
  say(PostActionsWarning());
  try {
    const RollbackResult result = RollBack(s.link, id);
    say(Ru("Откат выполнен: программ возвращено ") + std::to_string(result.Done()) + ".");
    say(RollbackCountsText(result));
    if (!result.skipped.empty()) say(SkippedText(result));
  } catch (const std::exception& e) {
    say(Ru("Откат не выполнен: ") + e.what());
    say(Ru("Повторите его командой: dorvik-cli rollback --backup ") + id);
  }
}

bool VerifyAfterInstall(Session& s, TerminalUi& ui) {
  try {
    const VerifyReport report = VerifyInstallation(s);
    s.log.Add("");
    for (const auto& e : report.routines) {
      if (VerifyReport::Matches(e)) continue;
      const std::string line = Ru("Проверка: ") + NameText(e.name) + " " + StateText(e);
      s.log.Add(line);
      ui.Say(line);
    }
    const std::string line = Ru("Проверка программ: ") + std::to_string(report.routines.size()) +
                             Ru(", не совпадают ") + std::to_string(report.Mismatches()) + ".";
    s.log.Add(line);
    ui.Say(line);
    return report.Mismatches() == 0;
  } catch (const std::exception& e) {
    const std::string line = Ru("Проверка программ не выполнена: ") + e.what();
    s.log.Add(line);
    ui.Say(line);
    return false;
  }
}

}  // namespace dorvik::cli
