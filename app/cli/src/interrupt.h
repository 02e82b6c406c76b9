// Ctrl-C during an installation: the first press is only noted, and the
// installation asks at its next check whether to stop; three presses before
// that end the program at once.
#pragma once

namespace dorvik::cli {

void InstallInterruptHandler();

// True once for each noted press (and then forgets it).
bool TakeInterrupt();

}  // namespace dorvik::cli
