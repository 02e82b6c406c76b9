// The Win32 wizard program: the client test before any window, the link
// thread with the VisM control, the seven windows created once in their
// order (fmFone, fmSetup, fmProgress, fmExit, fmPass, fmBox, fmAskUser), the
// message loop, and the install log written when the program ends.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace dorvik::win {

struct ProgramOptions {
  // Animations and timers held still (VELMORA_WIZARD_STILL=1), for
  // screenshots that do not change from one run to the next.
  bool still = false;
};

// Answers the process's exit code.
int RunWizard(const std::vector<std::string>& args, const std::filesystem::path& folder, const ProgramOptions& options);

}  // namespace dorvik::win
