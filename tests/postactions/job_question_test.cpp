// A post-action's numbers as the server writes them: percentages and the
// default button of a yes/no question, with the blanks M's $J puts around them.
#include <gtest/gtest.h>

#include "core/whole_number.h"
#include "distribution/codepage.h"
#include "fakes.h"
#include "link/tcp_link.h"
#include "postactions/postinstall.h"
#include "scripted_ui.h"

namespace dorvik {
namespace {

TEST(WholeNumber, BlanksAroundTheNumberAreAccepted) {
  EXPECT_EQ(ParseWholeNumber(" 40"), 40);
  EXPECT_EQ(ParseWholeNumber("40  "), 40);
  EXPECT_EQ(ParseWholeNumber(" -7 "), -7);
  EXPECT_EQ(ParseWholeNumber("+3"), 3);
  for (const char* bad : {"", "   ", "4 0", "4x", "x", "\t40", "- 4"}) {
    EXPECT_FALSE(WholeNumber(bad).has_value()) << bad;
    try {
      ParseWholeNumber(bad);
      ADD_FAILURE() << "accepted: '" << bad << "'";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid integer value");
    }
  }
}

class JobQuestionTest : public ::testing::Test {
 protected:
  TcpLink link;  // never connected: a question needs no server call
  testing::ScriptedUi ui;
  testing::FakeClock clock;
  testing::MemorySettings settings;
  Session s{FileLocations::In("/nonexistent"), link, ui, clock, settings};
};

TEST_F(JobQuestionTest, YesNoDefaultGoesToTheBoxAsWritten) {
  ui.SetAppTitle(Ru("Установка Склад 3.1"));
  ui.kelbox = {1, 2};
  EXPECT_EQ(AnswerJobQuestion(s, Utf8ToCp866("1#Продолжить?# 2")), "1");
  EXPECT_EQ(ui.lastKelbox.focusButton, 2);
  EXPECT_EQ(ui.lastKelbox.focusButtonText, std::optional<std::string>(" 2"));
  EXPECT_EQ(ui.lastKelbox.message, Ru("Продолжить?"));
  EXPECT_EQ(ui.lastKelbox.caption, Ru("Установка Склад 3.1"));
  EXPECT_EQ(ui.lastKelbox.escResult, 2);

  // Not a number: the box is still asked, and it is the box that refuses.
  EXPECT_EQ(AnswerJobQuestion(s, Utf8ToCp866("1#Продолжить?#да")), "2");
  EXPECT_EQ(ui.lastKelbox.focusButtonText, std::optional<std::string>(Ru("да")));
  EXPECT_EQ(ui.Count("RunKelbox"), 2);
}

}  // namespace
}  // namespace dorvik
