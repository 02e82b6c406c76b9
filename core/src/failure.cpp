#include "core/failure.h"

#include "core/session.h"
#include "distribution/codepage.h"

namespace dorvik {

void LogAppFailure(Session& s, std::string_view message) { s.log.Add(AppFailureLine(message)); }

void LogStepFailure(Session& s, std::string_view step, std::string_view message) {
  s.log.Add(StepFailureLine(step, message));
}

std::string WithErrorCode(const std::string& headline, const std::string& errorText) {
  return headline + Ru("Код ошибки: ") + errorText;
}

void StopAfterServerError(Session& s, const std::string& shown, const std::string& errorText, const LogSink& log) {
  s.ui.SetAnimation(Animation::None);
  s.ui.ShowMessage(shown);
  log(errorText);
  throw OperationAborted();
}

void StopAfterServerError(Session& s, const std::string& headline) {
  const std::string error = s.link.ErrorText();
  StopAfterServerError(s, WithErrorCode(headline, error), error,
                       [&s](std::string line) { s.log.Add(std::move(line)); });
}

}  // namespace dorvik
