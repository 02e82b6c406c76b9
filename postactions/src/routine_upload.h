// Saving the generated routine, with the log lines going where the caller
// keeps them (the runner holds its last line open).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "server/session.h"

namespace dorvik {

bool UploadGeneratedRoutine(Session& s, const std::vector<std::string>& lines,
                            const std::function<void(std::string)>& logLine);

}  // namespace dorvik
