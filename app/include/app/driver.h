// One installation from start to end: options logged, journaling off
// around the check and restore stages, the post-actions, the times, the
// settings saved and the readme opened.
#pragma once

#include "server/session.h"

namespace dorvik {

// Runs the installation; answers (and leaves in the session) whether it
// succeeded. The caller shows the result page.
bool act3InstallExecute(Session& s);

}  // namespace dorvik
