// How the installation steps report a failure: the log lines and the
// message after a server error, spelled once for every stage.
//
// A failure of the program's own logic is logged, not shown: at an
// operation's outer level as AppFailureLine, inside a stage as
// StepFailureLine with the step's words. A server error is shown with the
// step's headline and "Код ошибки: ", its text is logged alone, and the step
// stops through OperationAborted, whose handler then logs "Operation aborted"
// in its own form.
#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "distribution/install_log.h"  // AppFailureLine, StepFailureLine

namespace dorvik {

struct Session;

// A step that has already shown and logged its failure stops through this;
// the handler above it logs "Ошибка GUI приложения: Operation aborted".
class OperationAborted : public std::runtime_error {
 public:
  OperationAborted() : std::runtime_error("Operation aborted") {}
};

// Where a step's log lines go: the session's log, or a caller that keeps its
// last line open (the post-action runner).
using LogSink = std::function<void(std::string)>;

void LogAppFailure(Session& s, std::string_view message);
void LogStepFailure(Session& s, std::string_view step, std::string_view message);

// headline + "Код ошибки: " + errorText: what the user is shown when the
// server refused a step.
std::string WithErrorCode(const std::string& headline, const std::string& errorText);

// After a server error: stops the animation, shows `shown` in a message box,
// logs errorText alone and stops the step through OperationAborted.
[[noreturn]] void StopAfterServerError(Session& s, const std::string& shown, const std::string& errorText,
                                       const LogSink& log);

// The same with the link's current error, shown after headline and
// "Код ошибки: ", and logged in the session's log.
[[noreturn]] void StopAfterServerError(Session& s, const std::string& headline);

// Runs one guarded step: a failure inside it is logged as
// StepFailureLine(step, what) and answers false; it never throws.
template <class Body>
bool GuardedStep(Session& s, std::string_view step, Body&& body) {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    LogStepFailure(s, step, e.what());
    return false;
  }
}

}  // namespace dorvik
