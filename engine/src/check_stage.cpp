#include "distribution/codepage.h"
#include "distribution/damage_texts.h"
#include "distribution/funcs.h"
#include "distribution/routine_name.h"
#include "engine/stages.h"
#include "engine/upload.h"
#include "stage_steps.h"

namespace dorvik {

namespace {

// Stops the stage after its failure has been shown: logged by the caller.
struct StageInterrupted {
  std::string message;
};

}  // namespace

bool RunCheckStage(Session& s) {
  bool result = false;
  s.run.UserAbort = false;
  s.ui.SetProgressHeight(kProgressGauge);

  if (s.run.ImageCount > 0) {
    // Not caught here: a picture that cannot be shown ends the installation.
    s.ui.PlaceProgressBesidePicture();
    s.ui.ShowPicture(s.files.ImagePath(1));
  }

  try {
    DistributionReader::Section section(s.reader);
    DistributionReader& r = s.reader;
    Distribution& d = s.dist;

    d.CheckLabel = r.ReadRequiredRecord(damage::kCheckLabel);
    r.ReadRequiredRecord(damage::kPostActionList);
    if (!r.ParsePostActionList(d)) {
      r.NoteDamage(damage::PostActionWithoutPair());
      s.ui.ShowMessage(Ru("Ошибка в структуре дистрибутива"));
      return false;
    }
    d.CheckLabel = ShiftText(d.CheckLabel, d.KeyByte);
    // Labels become server code ("$$" + label): anything but an entry
    // reference is a fault of the distribution, found before anything runs.
    // A label that will not be called cannot harm and is not refused.
    const std::string structureError = Ru("Ошибка в структуре дистрибутива");
    if (const int unfit = s.options.RunPostActions ? FindUnfitPostAction(d) : -1; unfit >= 0) {
      r.NoteDamage(damage::PostActionUnfit(unfit + 1));
      s.ui.ShowMessage(structureError);
      const auto k = static_cast<std::size_t>(unfit);
      s.log.Add(structureError + Ru(": последействие ") + std::to_string(unfit + 1) + " (" +
                (k < d.PostActionLabels.size() ? d.PostActionLabels[k] : "") + ")");
      return false;
    }
    if (s.options.RunPreActions && !d.CheckLabel.empty() && !IsValidEntryReference(d.CheckLabel)) {
      r.NoteDamage(damage::CheckLabelNotEntry());
      s.ui.ShowMessage(structureError);
      s.log.Add(structureError + Ru(": метка проверки ") + d.CheckLabel);
      return false;
    }
    s.log.Add("");
    s.log.Add(d.CheckLabel.empty() ? Ru("Метки проверки нет.") : Ru("Метка проверки: ") + d.CheckLabel);

    r.ReadRequiredRecord(damage::kCheckRoutine);
    if (d.CheckLabel.empty() != r.Record().empty()) {
      const std::string why = d.CheckLabel.empty() ? Ru("Ошибка! Есть программы проверки и нет метки проверки.")
                                                   : Ru("Ошибка! Есть метка проверки и нет программ проверки.");
      r.NoteDamage(why);
      s.ui.ShowMessage(Ru("Файл данных испорчен"));
      s.log.Add(why);
      return false;
    }
    s.log.Add("");

    if (d.CheckLabel.empty()) {
      r.ReadRequiredRecord(damage::kIgnoredRecord);  // the record after the empty check section is not used
      section.Finish();
      return true;
    }

    r.MarkResume();
    s.log.Add(Ru("Восстановление программ проверки."));
    s.ui.SetProgressMax(static_cast<int>(r.CountRecords() + 1));
    r.SeekResume();
    s.ui.SetProgress(0);
    s.ui.SetStage(Ru("Восстановление программ ..."));
    s.ui.SetAnimation(Animation::CopyFiles);
    s.ui.ShowProgress();
    s.ui.RefreshProgress();
    const AbortRequestsAccepted accepting(s.ui);
    while (!r.Record().empty()) {
      if (!StoreRecord(s, r.Record(), /*logDamaged=*/false)) return false;
      s.ui.SetProgress(s.ui.Progress() + 1);
      ShowRestorePercent(s);
      s.ui.ProcessMessages();
      if (UserWantsToStop(s)) return false;
      r.ReadRequiredRecord(damage::kCheckRoutine);
    }
    s.ui.HideProgress();

    if (!s.options.RunPreActions) {
      section.Finish();
      return true;
    }

    try {
      s.ui.SetStage(Ru("Анализ области установки..."));
      // The routines' percentage would be stale while the label runs.
      s.ui.SetAppTitle(s.TitlePrefix() + Ru("Анализ области установки..."));
      s.ui.SetElement("");
      s.ui.SetAnimation(Animation::FindComputer);
      s.ui.ShowProgress();
      s.ui.RefreshProgress();
      s.log.Add("");
      s.log.Add(Ru("Выполнение метки проверки:"));

      s.link.ClearError();
      s.link.SetValue("");
      s.link.EnableJournal();
      s.link.Execute("$$" + d.CheckLabel);
      // The journal switch must not hide the label's own outcome.
      const int error = s.link.ErrorCode();
      const std::string errorText = s.link.ErrorText();
      const std::string value = s.link.GetValue();
      s.link.DisableJournal();

      const std::string failed = Ru("Не выполнилось преддействие. ");
      if (error != 0) {
        s.ui.SetAnimation(Animation::None);
        s.log.Add(errorText);
        if (s.options.HardPreAction) {
          const std::string message = failed + Ru("Код ошибки: ") + errorText;
          s.ui.ShowMessage(message);
          throw StageInterrupted{message};
        }
        if (s.ui.AskYesNo(failed + " " + errorText + Ru(". Прервать установку?"))) {
          throw StageInterrupted{errorText};
        }
      }
      if (!value.empty()) {
        s.ui.SetAnimation(Animation::None);
        const std::string reason = Cp866ToCp1251(value);
        const std::string message = failed + " " + reason;
        if (s.options.HardPreAction) {
          s.ui.ShowMessage(message);
          throw StageInterrupted{message};
        }
        if (s.ui.AskYesNo(message + Ru(". Прервать установку?"))) throw StageInterrupted{message};
        s.log.Add(Ru("Неуспех. ") + reason);
      }
      s.ui.SetProgress(s.ui.Progress() + 1);
      s.ui.ProcessMessages();
      if (UserWantsToStop(s)) return false;
      s.log.Add(Ru("Успех."));
      result = true;
    } catch (const StageInterrupted& stop) {
      s.log.Add(Ru("Сбой программы. ") + stop.message);
      return false;
    }
    section.Finish();
  } catch (const DamagedFileError& e) {
    // Found while reading (a file that ends before a record it must hold):
    // the reader has noted it.
    s.ui.SetAnimation(Animation::None);
    s.ui.ShowMessage(Ru("Файл данных испорчен"));
    LogAppFailure(s, e.what());
    return false;
  } catch (const std::exception& e) {
    LogAppFailure(s, e.what());
    return false;
  }
  return result;
}

}  // namespace dorvik
