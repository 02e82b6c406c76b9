#include "engine/upload.h"

#include <algorithm>

#include "distribution/codepage.h"
#include "distribution/routine_name.h"

namespace dorvik {

namespace {

const std::string kFillLine = "s text(P1)=P2";

std::string RefusalHeadline() { return Ru("Ошибка при восстановлении программы в Cache"); }

// Shows and logs a refusal and stops the step.
[[noreturn]] void StopAfterRefusal(Session& s, const StoreRoutineOptions& o, const std::string& error) {
  StopAfterServerError(s, WithErrorCode(RefusalHeadline(), error), error, o.log);
}

// The handler of one step of the store. A distribution routine logs the
// step's failure whatever it was; for the generated routine a refusal has
// said all there is, and any other failure belongs to the caller.
void StepFailed(Session& s, const StoreRoutineOptions& o, std::string_view step, const std::exception& e) {
  if (!o.logFailedSteps) {
    if (dynamic_cast<const OperationAborted*>(&e) == nullptr) throw;
    return;
  }
  LogStepFailure(s, step, e.what());
}

// Sends lines[1..] into `text`, one node per chunk, subscripted by the
// number of the chunk's first line.
void FillTextArray(Session& s, const std::vector<std::string>& lines, const StoreRoutineOptions& o) {
  const std::size_t limit = o.joinLines ? static_cast<std::size_t>(std::clamp(o.chunkLimit, 1, kMaxChunkLimit)) : 0;
  std::string chunk;
  std::size_t k = 1;
  while (k < lines.size()) {
    s.link.SetParam(1, static_cast<std::int64_t>(k));
    chunk.clear();
    if (o.joinLines) {
      try {
        AppendChunk(lines, k, limit, chunk);
      } catch (const std::exception& e) {
        // What was built so far is sent; AppendChunk has moved k past it.
        LogStepFailure(s, Ru("Ошибка при формировании разделенной строки: "), e.what());
      }
    } else {
      chunk = lines[k++];
    }
    s.link.SetParam(2, chunk);
    s.link.RunCode(kFillLine);
    if (s.link.ErrorCode() != 0) StopAfterRefusal(s, o, s.link.ErrorText());
  }
}

// Saves `text` as the routine and kills the array; the save's own error is
// read before `k text`, which could otherwise hide it.
void SaveTextArray(Session& s, const std::string& name, const StoreRoutineOptions& o) {
  s.link.Execute(SaveRoutineLine(name, o.killMacroSource));
  if (s.link.ErrorCode() != 0) {
    const std::string error = s.link.ErrorText();
    s.link.Execute("k text");
    StopAfterRefusal(s, o, error);
  }
  s.link.Execute("k text");
  if (s.link.ErrorCode() != 0) StopAfterRefusal(s, o, s.link.ErrorText());
}

}  // namespace

std::string SaveRoutineLine(const std::string& name, bool killMacroSource) {
  std::string line;
  if (killMacroSource) line = "k ^rMAC(\"" + name + "\") ";
  return line +
         "ZR  X \"s i=\"\"\"\",q=$C(13,10) f  s i=$o(text(i)) Q:i=\"\"\"\"  s s=\"\"\"\" f k=1:1:$l(text(i),q) "
         "s s=$p(text(i),q,k) ZI s\" ZS " +
         name;
}

bool StoreRoutine(Session& s, const std::vector<std::string>& lines, const StoreRoutineOptions& o) {
  const std::string& name = lines.at(0);
  try {
    FillTextArray(s, lines, o);
  } catch (const std::exception& e) {
    StepFailed(s, o, Ru("Ошибка при заполнении массива: "), e);
    s.link.Execute("k text");
    return false;
  }

  try {
    SaveTextArray(s, name, o);
  } catch (const std::exception& e) {
    StepFailed(s, o, Ru("Ошибка при генерации программы: "), e);
    return false;
  }

  if (o.removeSource) {
    GuardedStep(s, Ru("Ошибка при удалении исходника "), [&] {
      s.link.SetParam(1, name);
      s.link.RunCode("k ^ROUTINE(P1)");
    });
  }
  return true;
}

UploadResult UploadRoutine(Session& s, const std::string& record) {
  // The lines' storage is reused from routine to routine.
  thread_local std::vector<std::string> lines;
  GuardedStep(s, Ru("Ошибка в трансляции: "), [&] {
    try {
      s.reader.DecodeRoutineLines(record, lines);
    } catch (...) {
      lines.clear();
      throw;
    }
  });
  return UploadRoutineLines(s, lines);
}

UploadResult UploadRoutineLines(Session& s, const std::vector<std::string>& lines) {
  if (lines.empty()) {
    LogAppFailure(s, Ru("запись программы без строк"));
    return UploadResult::Damaged;
  }
  const std::string& name = lines[0];
  try {
    s.ui.SetElement(name);
    if (s.options.RestoreRoutines) s.log.Add(name);
    s.ui.RefreshProgress();
  } catch (const std::exception& e) {
    // A failure of the window, not of the file.
    LogAppFailure(s, e.what());
    return UploadResult::Failed;
  }
  // The name becomes part of server code: anything but a routine name
  // means the data file is damaged, and nothing of it is sent.
  if (!IsValidRoutineName(name)) {
    LogAppFailure(s, "\"" + name + Ru("\" не является именем программы"));
    return UploadResult::Damaged;
  }
  try {
    s.link.ClearError();
    s.link.Execute("n text,i,k,q");
  } catch (const std::exception& e) {
    // The link itself failed (the control raised it): reported as what it
    // is, a failure of the server call, never as a damaged data file.
    s.ui.SetAnimation(Animation::None);
    s.ui.ShowMessage(WithErrorCode(RefusalHeadline(), e.what()));
    LogAppFailure(s, e.what());
    return UploadResult::Failed;
  }
  if (!s.options.RestoreRoutines) return UploadResult::Stored;

  StoreRoutineOptions o;
  o.joinLines = true;
  o.chunkLimit = s.options.ChunkLimit;
  o.killMacroSource = true;
  o.removeSource = !s.options.KeepSources;
  o.logFailedSteps = true;
  o.log = [&s](std::string line) { s.log.Add(std::move(line)); };
  return StoreRoutine(s, lines, o) ? UploadResult::Stored : UploadResult::Failed;
}

}  // namespace dorvik
