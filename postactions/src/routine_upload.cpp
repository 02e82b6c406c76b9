#include "routine_upload.h"

#include "engine/upload.h"
#include "postactions/postinstall.h"

namespace dorvik {

bool UploadGeneratedRoutine(Session& s, const std::vector<std::string>& lines, const LogSink& logLine) {
  if (lines.empty()) return true;
  // The name becomes part of the save line: only a routine name may stand there.
  if (!IsValidRoutineName(lines[0])) throw std::runtime_error("\"" + lines[0] + "\" is not a routine name");
  StoreRoutineOptions o;
  o.joinLines = false;        // one server call per line
  o.killMacroSource = false;  // the save line starts at "ZR"
  o.removeSource = false;     // the generated routine keeps its source
  o.logFailedSteps = false;   // the runner logs the stop itself
  o.log = logLine;
  return StoreRoutine(s, lines, o);
}

}  // namespace dorvik
