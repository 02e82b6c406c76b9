#include "distribution/install_log.h"

#include "distribution/codepage.h"

namespace dorvik {

std::string AppFailureLine(std::string_view message) {
  static const std::string prefix = Ru("Ошибка GUI приложения: ");
  std::string line = prefix;
  line += message;
  return line;
}

std::string StepFailureLine(std::string_view step, std::string_view message) {
  static const std::string prefix = Ru("Ошибка GUI приложения. ");
  std::string line = prefix;
  line += step;
  line += message;
  return line;
}

}  // namespace dorvik
