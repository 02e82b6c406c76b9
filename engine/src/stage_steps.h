// Steps the check stage and the restore share.
#pragma once

#include <string>

#include "distribution/codepage.h"
#include "distribution/damage_texts.h"
#include "engine/upload.h"
#include "core/session.h"

namespace dorvik {

// The user's Esc, answered: true to stop the installation; "No" clears it.
// "Нет" is the default answer, so that a stray Enter does not end the run.
inline bool UserWantsToStop(Session& s) {
  if (!s.run.UserAbort) return false;
  s.ui.ClearAbortNotice();
  if (s.ui.AskYesNo(Ru("Прервать установку?"), /*defaultNo=*/true)) return true;
  s.run.UserAbort = false;
  return false;
}

// While it lives, the progress window acknowledges Esc at once: the stage
// looks at UserAbort after each of its steps.
class AbortRequestsAccepted {
 public:
  explicit AbortRequestsAccepted(InstallerUi& ui) : ui_(ui) { ui_.AcceptAbortRequests(true); }
  ~AbortRequestsAccepted() {
    try {
      ui_.AcceptAbortRequests(false);
    } catch (...) {
      // Only a notice; the stage's own outcome stands.
    }
  }
  AbortRequestsAccepted(const AbortRequestsAccepted&) = delete;
  AbortRequestsAccepted& operator=(const AbortRequestsAccepted&) = delete;

 private:
  InstallerUi& ui_;
};

// The application title while routines are restored.
inline void ShowRestorePercent(Session& s) {
  s.ui.SetAppTitle(s.TitlePrefix() + Ru("Восстановление программ ") + std::to_string(s.ui.ProgressPercent()) + "%");
}

// Uploads one routine record; false when the stage must end. A damaged
// record is reported here (and logged when `logDamaged`); a server failure
// has already been shown and logged by the upload.
inline bool StoreRecord(Session& s, const std::string& record, bool logDamaged) {
  switch (UploadRoutine(s, record)) {
    case UploadResult::Stored:
      return true;
    case UploadResult::Damaged:
      s.reader.NoteDamage(damage::RoutineWithoutName());
      s.ui.SetAnimation(Animation::None);
      s.ui.ShowMessage(Ru("Файл данных испорчен"));
      if (logDamaged) s.log.Add(Ru("Файл данных испорчен"));
      return false;
    case UploadResult::Failed:
      return false;
  }
  return false;
}

}  // namespace dorvik
