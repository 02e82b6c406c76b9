// Steps the check stage and the restore share.
#pragma once

#include <string>

#include "distribution/codepage.h"
#include "engine/upload.h"
#include "core/session.h"

namespace dorvik {

// The user's Esc, answered: true to stop the installation; "No" clears it.
inline bool UserWantsToStop(Session& s) {
  if (!s.run.UserAbort) return false;
  if (s.ui.AskYesNo(Ru("Прервать установку?"))) return true;
  s.run.UserAbort = false;
  return false;
}

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
      s.reader.NoteDamage("a routine record that names no valid routine (the install log says which)");
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
