#include "core/whole_number.h"
#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "postactions/postinstall.h"

namespace dorvik {

std::string AnswerJobQuestion(Session& s, const std::string& message) {
  const std::string question = message.empty() ? message : Cp866ToCp1251(message);
  const std::string type = Piece(question, '#', 1);
  const std::string text = Piece(question, '#', 2);
  const std::string defaultAnswer = Piece(question, '#', 3);
  if (type == "1") {
    KelboxRequest box;
    box.message = text;
    box.caption = s.ui.AppTitle();
    box.buttons = Ru("Да_Нет");
    // The box itself converts its default button, so that a default that is
    // not a number fails as the box's own failure.
    box.focusButtonText = defaultAnswer;
    box.focusButton = WholeNumber(defaultAnswer).value_or(box.focusButton);
    box.escResult = 2;
    return std::to_string(s.ui.RunKelbox(box));
  }
  const std::string answer = s.ui.AskUser(text, s.ui.AppTitle(), defaultAnswer);
  return answer.empty() ? answer : Cp1251ToCp866(answer);
}

}  // namespace dorvik
