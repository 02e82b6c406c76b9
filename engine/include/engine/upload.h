// Storing one routine of the distribution on the server: its lines are
// joined into chunks and sent into the local array `text`, then one line
// of M code loads the array into the routine buffer and saves it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "distribution/routine_name.h"  // IsValidRoutineName
#include "server/session.h"

namespace dorvik {

enum class UploadResult {
  Stored,   // the routine was stored (or only shown, when routines are not restored)
  Damaged,  // the record cannot be used: the caller reports a damaged data file
  Failed,   // the server refused it; the error has been shown and logged
};

// The chunk that starts at line k (1-based into lines, where lines[0] is the
// routine's name): line k and the lines after it joined by CR LF while the
// chunk is shorter than chunkLimit. Advances k past the chunk.
std::string JoinLines(const std::vector<std::string>& lines, std::size_t& k, int chunkLimit);

// The server line that saves the array `text` as routine `name`.
std::string SaveRoutineLine(const std::string& name);

// Stores one routine record as the reader holds it.
UploadResult UploadRoutine(Session& s, const std::string& record);

// Stores routine lines that are already decoded (lines[0] is the name).
UploadResult UploadRoutineLines(Session& s, const std::vector<std::string>& lines);

}  // namespace dorvik
