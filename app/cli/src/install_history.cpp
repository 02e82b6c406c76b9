#include "install_history.h"

#include <cstdio>

#include "cli/install_command.h"
#include "distribution/codepage.h"

namespace dorvik::cli {

namespace {

// The first digits of a digest, enough to tell distributions apart on a line.
constexpr std::size_t kShortDigest = 12;

std::string EntryLine(const InstalledDistribution& e) {
  return e.id + "  " + e.time + "  " + e.product + " " + e.version + " (" + e.build + ")  " +
         e.digest.substr(0, kShortDigest) + "  " + e.ns + "  " + e.options + "  " + Ru("копия ") +
         (e.backup.empty() ? "-" : e.backup) + "  " + (e.RolledBack() ? Ru("откачена") : Ru("установлена"));
}

}  // namespace

InstalledState CompareWithInstalled(ServerLink& link, const std::vector<RoutineEntry>& routines,
                                    const std::string& digest) {
  InstalledState state;
  state.current = CurrentInstallation(ListInstallations(link));
  for (const auto& e : routines) {
    if (!VerifyReport::Matches(e)) ++state.mismatches;
  }
  if (!state.current) {
    state.reason = Ru("в области нет записи об установленном дистрибутиве");
  } else if (state.current->digest != digest) {
    state.reason = Ru("в области установлен другой дистрибутив: ") + state.current->product + " " +
                   state.current->version + " (" + state.current->build + Ru("), запись ") + state.current->id;
  } else if (state.mismatches > 0) {
    state.reason = Ru("программы не совпадают с дистрибутивом: ") + std::to_string(state.mismatches);
  } else {
    state.same = true;
  }
  return state;
}

std::optional<std::string> RecordAfterInstall(Session& s, TerminalUi& ui, const std::string& digest,
                                              const std::optional<std::string>& backupId) {
  try {
    const std::string id = RecordInstallation(s.link, s.dist, digest, s.options, backupId.value_or(""));
    ui.Say(Ru("Установка записана в журнал установленных дистрибутивов области: запись ") + id + ".");
    return id;
  } catch (const std::exception& e) {
    const std::string line = Ru("Установка не записана в журнал установленных дистрибутивов области: ") + e.what();
    s.log.Add(line);
    ui.Say(line);
    return std::nullopt;
  }
}

int RunHistory(Session& s, TerminalUi& ui, const LocaleText& text, CommandReport* json) {
  try {
    const auto entries = ListInstallations(s.link);
    const auto current = CurrentInstallation(entries);
    if (json != nullptr) {
      Json list = Json::array();
      for (const auto& e : entries) list.push_back(InstallationJson(e));
      json->extra["installations"] = std::move(list);
      json->extra["current"] = current ? Json(current->id) : Json(nullptr);
      return kInstalled;
    }
    const auto print = [&](const std::string& line) { std::fputs((text.Show(line) + "\n").c_str(), stdout); };
    if (entries.empty()) print(Ru("В области ") + s.connection.Namespace + Ru(" нет записей об установках."));
    for (const auto& e : entries) print(EntryLine(e));
    if (current) print(Ru("Сейчас установлен: запись ") + current->id + ".");
    std::fflush(stdout);
    return kInstalled;
  } catch (const std::exception& e) {
    ui.ShowMessage(AppFailureLine(e.what()));
    return kInstallFailed;
  }
}

}  // namespace dorvik::cli
