// The command-line installer: one installation from the current folder,
// through the same core and in the same order as the wizard.
#pragma once

#include <string>
#include <vector>

namespace dorvik::cli {

enum ExitStatus {
  kInstalled = 0,
  kInstallFailed = 1,
  kUsageError = 2,  // also: licence not accepted, wrong source password
  kNoServer = 3,    // no connection or no namespace to install into
  kBadDistribution = 4,
  kNoClient = 5,  // the VisM control is not registered (Windows)
};

// Runs with the arguments after the program name; answers the exit status.
int RunInstaller(const std::string& program, const std::vector<std::string>& args);

}  // namespace dorvik::cli
