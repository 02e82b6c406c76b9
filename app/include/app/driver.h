// One installation from start to end: options logged, journaling off
// around the check and restore stages, the post-actions, the times, the
// settings saved and the readme opened.
#pragma once

#include "core/session.h"

namespace dorvik {

// Serves the wizard's "Установить" (act3Install). Runs the installation; answers (and leaves in the session) whether it
// succeeded. The caller shows the result page.
bool RunInstallation(Session& s);

}  // namespace dorvik
