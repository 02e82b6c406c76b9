// Storing one routine on the server: its lines are sent into the local
// array `text` (joined into chunks, or one line per call), then one line of
// M code loads the array into the routine buffer and saves it.
//
// StoreRoutine is the one primitive behind both uploads of the installer:
// the distribution's routines (UploadRoutine, with the preparation and the
// source removal around it) and the generated post-action routine. A routine
// is never saved from part of its lines: a refused fill or save kills the
// array, and the save's own error is read before `k text` can hide it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/session.h"
#include "distribution/routine_name.h"  // IsValidRoutineName

namespace dorvik {

enum class UploadResult {
  Stored,   // the routine was stored (or only shown, when routines are not restored)
  Damaged,  // the record cannot be used: the caller reports a damaged data file
  Failed,   // the server refused it; the error has been shown and logged
};

// How StoreRoutine sends a routine and what it does around the save.
struct StoreRoutineOptions {
  // true: lines joined by CR LF into chunks that stop growing at chunkLimit
  // bytes (a distribution routine); false: one line per call.
  bool joinLines = true;
  int chunkLimit = kMaxChunkLimit;
  // The save line starts by killing the routine's macro source.
  bool killMacroSource = true;
  // The routine's source (^ROUTINE) is removed after the save.
  bool removeSource = false;
  // true: each step is guarded on its own and a failure logs the step's
  // "Ошибка GUI приложения. ..." line (a distribution routine); false: a
  // server refusal ends the store without that line, and any other failure
  // goes to the caller (the generated routine).
  bool logFailedSteps = true;
  // Where the server's error texts are logged.
  LogSink log;
};

// Stores lines[1..] as routine lines[0], whose name the caller has checked
// with IsValidRoutineName. True when the routine was saved; false when the
// server refused it, after its error has been shown and logged.
bool StoreRoutine(Session& s, const std::vector<std::string>& lines, const StoreRoutineOptions& options);

// Appends to `chunk` line k and the lines after it (1-based into lines,
// where lines[0] is the routine's name), joined by CR LF, while the chunk is
// shorter than chunkLimit; k ends past the chunk. k moves past a line before
// the line is appended, so when appending fails the chunk holds the lines
// appended so far and the failing line is not tried again.
template <class String>
void AppendChunk(const std::vector<std::string>& lines, std::size_t& k, std::size_t chunkLimit, String& chunk) {
  const std::size_t last = lines.size() - 1;
  bool first = true;
  do {
    const std::string& line = lines[k++];
    if (first) {
      chunk.reserve(line.size());
    } else {
      chunk.reserve(chunk.size() + 2 + line.size());  // the appends below then cannot fail half done
      chunk += "\r\n";
    }
    chunk.append(line.data(), line.size());
    first = false;
  } while (chunk.size() < chunkLimit && k <= last);
}

// The server line that saves the array `text` as routine `name`, with or
// without the removal of its macro source in front.
std::string SaveRoutineLine(const std::string& name, bool killMacroSource = true);

// Stores one routine record as the reader holds it.
UploadResult UploadRoutine(Session& s, const std::string& record);

// Stores routine lines that are already decoded (lines[0] is the name).
UploadResult UploadRoutineLines(Session& s, const std::vector<std::string>& lines);

}  // namespace dorvik
