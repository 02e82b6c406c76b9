#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "distribution/timefmt.h"
#include "engine/stages.h"
#include "engine/upload.h"
#include "stage_steps.h"

namespace dorvik {

namespace {

constexpr int kRoutinesPerEstimate = 20;

}  // namespace

bool RestoreDistributionRoutines(Session& s) {
  if (!s.options.RestoreRoutines) return true;
  s.run.UserAbort = false;
  const AbortRequestsAccepted accepting(s.ui);
  const int pictureStep = s.run.ImageCount > 1 ? 100 / s.run.ImageCount : 1;

  s.ui.SetProgress(0);
  ShowRestorePercent(s);  // not the percentage left by the check stage
  s.ui.SetStage(Ru("Восстановление программ ..."));
  s.ui.SetAnimation(Animation::CopyFiles);
  s.ui.ShowProgress();
  s.ui.RefreshProgress();

  // Opening the data file is not guarded here: its failure reaches the driver.
  DistributionReader::Section section(s.reader);
  DistributionReader& r = s.reader;
  s.log.Add("");
  s.log.Add(Ru("Восстановление программ дистрибутива."));

  try {
    r.ReadRecord();
    r.MarkResume();
    const std::int64_t total = r.CountRecords();
    s.log.Add(Ru("В дистрибутиве ") + std::to_string(total) + " " + Ru("программ."));

    std::uint32_t done = 0;
    int sinceEstimate = 0;
    bool estimating = true;
    const std::uint32_t startTick = s.clock.TickCount();
    s.ui.SetProgressMax(static_cast<int>(total));
    s.ui.SetTimeText("");
    s.ui.SetTimeVisible(true);
    r.SeekResume();

    while (!r.Record().empty()) {
      if (s.options.RunPreActions && s.run.ImageIndex == 0) s.run.ImageIndex = 1;
      if (s.run.ImageCount > 0 && s.run.ImageIndex < s.run.ImageCount &&
          s.ui.ProgressPercent() >= s.run.ImageIndex * pictureStep) {
        ++s.run.ImageIndex;
        s.ui.ShowPicture(s.files.ImagePath(s.run.ImageIndex));
      }

      if (!StoreRecord(s, r.Record(), /*logDamaged=*/true)) return false;

      ++done;
      if (estimating && ++sinceEstimate == kRoutinesPerEstimate) {
        try {
          const std::uint32_t elapsed = s.clock.TickCount() - startTick;
          const std::uint32_t perRoutine = elapsed / done;
          const std::uint32_t remaining = static_cast<std::uint32_t>(total - done) * perRoutine;
          s.ui.SetTimeText(Ru("Осталось ") + FormatLongTime(MsToDays(remaining)));
          sinceEstimate = 0;
        } catch (const std::exception& e) {
          LogStepFailure(s, Ru("Ошибка во время расчета времени установки: "), e.what());
          estimating = false;
        }
      }
      s.ui.SetProgress(s.ui.Progress() + 1);
      ShowRestorePercent(s);
      s.ui.ProcessMessages();
      if (UserWantsToStop(s)) {
        s.log.Add(Ru("Установка прервана пользователем."));
        return false;
      }
      r.ReadRecord();
    }
    s.log.Add(Ru("Программы успешно восстановлены."));
    section.Finish();
    return true;
  } catch (const std::exception& e) {
    LogAppFailure(s, e.what());
    return false;
  }
}

}  // namespace dorvik
