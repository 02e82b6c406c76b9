// Saving the generated routine, with the log lines going where the caller
// keeps them (the runner holds its last line open).
#pragma once

#include <string>
#include <vector>

#include "core/session.h"

namespace dorvik {

bool UploadGeneratedRoutine(Session& s, const std::vector<std::string>& lines, const LogSink& logLine);

}  // namespace dorvik
