// The installation's first two stages. Each answers true to go on and false
// when the installation has failed (the reason already shown or logged).
#pragma once

#include "core/session.h"

namespace dorvik {

// Reads the check label and the post-action list, stores the check
// routines and, when pre-actions are on, calls the check label.
bool RunCheckStage(Session& s);

// Stores every routine of the distribution, with a gauge, a time estimate
// and the pictures of the background window.
bool RestoreDistributionRoutines(Session& s);

}  // namespace dorvik
