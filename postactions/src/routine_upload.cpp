#include "distribution/codepage.h"
#include "engine/upload.h"
#include "postactions/postinstall.h"
#include "routine_upload.h"

namespace dorvik {

namespace {

const std::string kFillLine = "s text(P1)=P2";

// The save line of a distribution routine without its removal of the
// routine's macro source: "ZR ... ZS " + name.
std::string SaveLineWithoutMacroKill(const std::string& name) {
  const std::string full = SaveRoutineLine(name);
  const std::size_t zr = full.find("ZR");
  return zr == std::string::npos ? full : full.substr(zr);
}

}  // namespace

bool UploadGeneratedRoutine(Session& s, const std::vector<std::string>& lines,
                            const std::function<void(std::string)>& logLine) {
  const auto refused = [&] {
    const std::string error = s.link.ErrorText();
    s.ui.SetAnimation(Animation::None);
    s.ui.ShowMessage(Ru("Ошибка при восстановлении программы в Cache") + Ru("Код ошибки: ") + error);
    logLine(error);
    return false;
  };
  if (lines.empty()) return true;
  // The name becomes part of the save line: only a routine name may stand there.
  if (!IsValidRoutineName(lines[0])) throw std::runtime_error("\"" + lines[0] + "\" is not a routine name");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    s.link.SetParam(1, static_cast<std::int64_t>(i));
    s.link.SetParam(2, lines[i]);
    s.link.RunCode(kFillLine);
    if (s.link.ErrorCode() != 0) {
      const bool result = refused();
      s.link.Execute("k text");  // no part of the routine is left behind
      return result;
    }
  }
  s.link.Execute(SaveLineWithoutMacroKill(lines[0]));
  if (s.link.ErrorCode() != 0) {
    // The save's own error is the one to report; the array goes either way.
    const std::string error = s.link.ErrorText();
    s.link.Execute("k text");
    s.ui.SetAnimation(Animation::None);
    s.ui.ShowMessage(Ru("Ошибка при восстановлении программы в Cache") + Ru("Код ошибки: ") + error);
    logLine(error);
    return false;
  }
  s.link.Execute("k text");
  if (s.link.ErrorCode() != 0) return refused();
  return true;
}

bool UploadPostActionRoutine(Session& s, const std::vector<std::string>& lines) {
  return UploadGeneratedRoutine(s, lines, [&s](std::string line) { s.log.Add(std::move(line)); });
}

}  // namespace dorvik
