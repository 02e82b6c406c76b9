// Ctrl-C during an installation: the first press is only noted, and the
// installation asks at its next check whether to stop; three presses before
// that end the program at once.
#pragma once

#include <string>

namespace dorvik::cli {

// `endText` (in the locale's encoding) is written on standard error when the
// third press ends the program.
void InstallInterruptHandler(const std::string& endText);

// True once for each noted press (and then forgets it).
bool TakeInterrupt();

}  // namespace dorvik::cli
