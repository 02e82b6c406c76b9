#include "engine/upload.h"

#include "distribution/codepage.h"
#include "distribution/routine_name.h"

namespace dorvik {

namespace {

const std::string kFillLine = "s text(P1)=P2";

// Shows and logs a server error and stops the guarded step.
[[noreturn]] void ReportServerError(Session& s) {
  s.ui.SetAnimation(Animation::None);
  s.ui.ShowMessage(Ru("Ошибка при восстановлении программы в Cache") + Ru("Код ошибки: ") + s.link.ErrorText());
  s.log.Add(s.link.ErrorText());
  throw OperationAborted();
}

void LogGuarded(Session& s, const std::string& prefix, const std::exception& e) {
  s.log.Add(Ru("Ошибка GUI приложения. ") + Ru(prefix) + e.what());
}

}  // namespace

std::string JoinLines(const std::vector<std::string>& lines, std::size_t& k, int chunkLimit) {
  const std::size_t last = lines.size() - 1;
  std::string chunk = lines[k];
  while (chunk.size() < static_cast<std::size_t>(chunkLimit) && k < last) {
    ++k;
    chunk += "\r\n";
    chunk += lines[k];
  }
  ++k;
  return chunk;
}

std::string SaveRoutineLine(const std::string& name) {
  return "k ^rMAC(\"" + name + "\") " +
         "ZR  X \"s i=\"\"\"\",q=$C(13,10) f  s i=$o(text(i)) Q:i=\"\"\"\"  s s=\"\"\"\" f k=1:1:$l(text(i),q) "
         "s s=$p(text(i),q,k) ZI s\" ZS " +
         name;
}

UploadResult UploadRoutine(Session& s, const std::string& record) {
  // The lines' storage is reused from routine to routine.
  thread_local std::vector<std::string> lines;
  try {
    s.reader.DecodeRoutineLines(record, lines);
  } catch (const std::exception& e) {
    lines.clear();
    LogGuarded(s, "Ошибка в трансляции: ", e);
  }
  return UploadRoutineLines(s, lines);
}

UploadResult UploadRoutineLines(Session& s, const std::vector<std::string>& lines) {
  std::string name;
  try {
    if (lines.empty()) throw std::runtime_error("a routine record without lines");
    name = lines[0];
    s.ui.SetElement(name);
    if (s.options.RestoreRoutines) s.log.Add(name);
    s.ui.RefreshProgress();
    // The name becomes part of server code: anything but a routine name
    // means the data file is damaged, and nothing of it is sent.
    if (!IsValidRoutineName(name)) throw std::runtime_error("\"" + name + "\" is not a routine name");
    s.link.ClearError();
    s.link.Execute("n text,i,k,q");
  } catch (const std::exception& e) {
    s.log.Add(Ru("Ошибка GUI приложения: ") + e.what());
    return UploadResult::Damaged;
  }
  if (!s.options.RestoreRoutines) return UploadResult::Stored;

  const int limit = std::min(std::max(s.options.ChunkLimit, 1), kMaxChunkLimit);
  try {
    std::size_t k = 1;
    while (k < lines.size()) {
      s.link.SetParam(1, static_cast<std::int64_t>(k));
      std::string chunk;
      try {
        chunk = JoinLines(lines, k, limit);
      } catch (const std::exception& e) {
        LogGuarded(s, "Ошибка при формировании разделенной строки: ", e);
      }
      s.link.SetParam(2, chunk);
      s.link.RunCode(kFillLine);
      if (s.link.ErrorCode() != 0) ReportServerError(s);
    }
  } catch (const std::exception& e) {
    LogGuarded(s, "Ошибка при заполнении массива: ", e);
    // A routine is never saved from part of its lines.
    s.link.Execute("k text");
    return UploadResult::Failed;
  }

  try {
    s.link.Execute(SaveRoutineLine(name));
    const bool saved = s.link.ErrorCode() == 0;
    if (!saved) {
      // The array goes either way, but the save's own error is what counts.
      const std::string error = s.link.ErrorText();
      s.link.Execute("k text");
      s.ui.SetAnimation(Animation::None);
      s.ui.ShowMessage(Ru("Ошибка при восстановлении программы в Cache") + Ru("Код ошибки: ") + error);
      s.log.Add(error);
      throw OperationAborted();
    }
    s.link.Execute("k text");
    if (s.link.ErrorCode() != 0) ReportServerError(s);
  } catch (const std::exception& e) {
    LogGuarded(s, "Ошибка при генерации программы: ", e);
    return UploadResult::Failed;
  }

  if (!s.options.KeepSources) {
    try {
      s.link.SetParam(1, name);
      s.link.RunCode("k ^ROUTINE(P1)");
    } catch (const std::exception& e) {
      LogGuarded(s, "Ошибка при удалении исходника ", e);
    }
  }
  return UploadResult::Stored;
}

}  // namespace dorvik
