#include "app/driver.h"

#include "app/startup.h"
#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "distribution/timefmt.h"
#include "engine/stages.h"
#include "postactions/postinstall.h"

namespace dorvik {

namespace {

void LogOptions(Session& s) {
  s.log.Add("");
  s.log.Add(Ru("Параметры работы установщика:"));
  if (s.options.RunPreActions) {
    s.log.Add(Ru("Выполнять метки преддействия;"));
    s.log.Add(s.options.HardPreAction ? Ru("Установка с \"жестким\" преддействием;")
                                      : Ru("Установка с \"мягким\" преддействием;"));
  } else {
    s.log.Add(Ru("Преддействия не выполнять;"));
  }
  s.log.Add(s.options.RestoreRoutines ? Ru("Восстанавливать программы;") : Ru("НЕ восстанавливать программы;"));
  s.log.Add(s.options.RunPostActions ? Ru("Выполнять метки последействия.") : Ru("Последействия не выполнять."));
}

}  // namespace

bool RunInstallation(Session& s) {
  LogOptions(s);
  s.ui.HideWizard();
  CountImages(s);
  s.link.DisableJournal();
  s.run.InstallSucceeded = true;
  try {
    try {
      s.run.StartTime = s.clock.TimeOfDay();
      s.log.Add("");
      s.log.Add(Ru("Старт процесса установки: ") + FormatLongTime(s.run.StartTime));
      s.log.Add("");
      if (!RunCheckStage(s) || !RestoreDistributionRoutines(s)) s.run.InstallSucceeded = false;
    } catch (...) {
      s.link.EnableJournal();
      throw;
    }
    s.link.EnableJournal();
    if (s.run.InstallSucceeded && !RunPostActionPhase(s)) s.run.InstallSucceeded = false;
  } catch (const std::exception& e) {
    LogAppFailure(s, e.what());
    s.run.InstallSucceeded = false;
  }
  s.ui.CloseProgress();
  s.run.EndTime = s.clock.TimeOfDay();
  s.log.Add(Ru("Время окончания установки: ") + FormatLongTime(s.run.EndTime));
  s.log.Add(Ru("Продолжительность установки: ") + FormatLongTime(TimeDiff(s.run.StartTime, s.run.EndTime)));
  s.ui.ShowWizard();
  SaveConnectionSettings(s.settings, s.connection);
  s.ui.OpenFile(s.files.ReadmePath, s.files.ProgramFolder);
  return s.run.InstallSucceeded;
}

}  // namespace dorvik
