// The evaluator's shortcuts (appending to a variable in place, reading
// variables without copying them, cached variable slots, resumed $PIECE
// scans, the FOR loop's own counter) must give the answers of the plain
// left-to-right evaluation in every case they could get wrong.
#include "engine_fixture.h"

namespace {

TEST_F(EngineTest, AppendInPlaceSeesTheOldValue) {
  EXPECT_EQ(Run("s s=\"ab\" s s=s_s w s"), "abab");
  EXPECT_EQ(Run("s s=\"ab\" s s=s_\"-\"_s_$l(s)_$e(s,2) w s"), "ab-ab2b");
  EXPECT_EQ(Run("s s=\"ab\" s s=s_s(1) w s"), "ERR <UNDEFINED> *s(1)");
  EXPECT_EQ(Run("s s=\"ab\",s(1)=\"c\" s s=s_s(1)_$d(s(2)) w s"), "abc0");
  EXPECT_EQ(Run("k u s u=u_1"), "ERR <UNDEFINED> *u");
  // A number gets its canonical string form before the append.
  EXPECT_EQ(Run("s n=1.50 s n=n_0 w n,\" \",n+1"), "1.50 2.5");
  EXPECT_EQ(Run("s n=2 s n=n_\"\" w n+n"), "4");
  // More parts than the shortcut takes at once.
  std::string line = "s x=0 s x=x";
  std::string expected = "0";
  for (int i = 1; i <= 20; ++i) {
    line += "_" + std::to_string(i);
    expected += std::to_string(i);
  }
  EXPECT_EQ(Run(line + " w x"), expected);
}

TEST_F(EngineTest, AppendWithSideEffectsKeepsLeftToRightOrder) {
  Save("ap", {"ap ; appends with side effects",
              "chg() s x=\"changed\" q \"b\"",
              "grow() s x=x_\"i\" q \"j\"",
              "ref(y) s y=y_\"b\",y=y_y q",
              "new n x s x=\"q\" s x=x_\"r\" w x,\"-\" q"});
  // x is read before the extrinsic runs, whatever the extrinsic does to it.
  EXPECT_EQ(Run("s x=\"a\" s x=x_$$chg^ap() w x"), "ab");
  EXPECT_EQ(Run("s x=\"a\" s x=x_$$grow^ap()_x w x"), "ajai");
  EXPECT_EQ(Run("s x=\"a\" s x=x_$i(x) w x"), "a1");
  // Through a by-reference parameter, and on a NEWed copy of the name.
  EXPECT_EQ(Run("s x=\"a\" d ref^ap(.x) w x"), "abab");
  EXPECT_EQ(Run("s x=\"a\" d new^ap w x"), "qr-a");
  EXPECT_EQ(Run("s x=\"a\" k x s x=\"b\" s x=x_\"c\" w x"), "bc");
}

TEST_F(EngineTest, AppendInPlaceRespectsTheStringLimit) {
  mengine::ProcessOptions o = Options();
  o.limits.max_string = 10;
  mengine::Process p(host_, o);
  EXPECT_FALSE(p.Execute("s x=\"12345\" s x=x_x").error);
  EXPECT_EQ(p.Execute("s x=x_\"1\"").error_text, "<MAXSTRING>");
  EXPECT_EQ(p.Evaluate("x").value, "1234512345");
}

}  // namespace
