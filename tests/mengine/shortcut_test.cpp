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
  Save("ap", {"ap ; appends with side effects", "chg() s x=\"changed\" q \"b\"", "grow() s x=x_\"i\" q \"j\"",
              "ref(y) s y=y_\"b\",y=y_y q", "new n x s x=\"q\" s x=x_\"r\" w x,\"-\" q"});
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

TEST_F(EngineTest, NumericOperandsAreTakenLeftToRight) {
  Save("num", {"num ; side effects on an operand", "set() s x=10 q 5", "inc(v) s v=v+1 q 1"});
  // The left number is taken before the right side changes the variable.
  EXPECT_EQ(Run("s x=1 w x+$$set^num()"), "6");
  EXPECT_EQ(Run("s x=1 w $$set^num()+x"), "15");
  EXPECT_EQ(Run("s x=1 w x<$$set^num(),\" \",x"), "1 10");
  EXPECT_EQ(Run("s x=1 w x+$i(x),\" \",x"), "3 2");
  EXPECT_EQ(Run("s x=1 w x*$$inc^num(.x)_x"), "12");
  EXPECT_EQ(Run("s x=\"3abc\" w x+1,\" \",x"), "4 3abc");
  EXPECT_EQ(Run("k x w 1+x"), "ERR <UNDEFINED> *x");
}

TEST_F(EngineTest, SetGivesEachTargetItsOwnValue) {
  // The last target takes the value itself, the others copies.
  EXPECT_EQ(Run("s (a,b,x(1),x(2))=\"v\" s a=a_1,x(1)=x(1)_2 w a,b,x(1),x(2)"), "v1vv2v");
  EXPECT_EQ(Run("s (a,b)=$p(\"p^q\",\"^\",2) s b=b_1 w a,b"), "qq1");
  EXPECT_EQ(Run("s (a,b)=3*4 w a+1,b_\"x\""), "1312x");
}

TEST_F(EngineTest, ForCountsFromTheVariableAsTheBodyLeftIt) {
  Save("lp", {"lp ; loop bodies that touch the loop variable", "hide n i s i=7 w \"n\" q", "kill k i q",
              "byref(v) f v=1:1:5 w v s:v=2 v=3", " q"});
  EXPECT_EQ(Run("f i=1:1:5 w i s i=i+1"), "135");
  EXPECT_EQ(Run("f i=1:1:3 w i k i"), "ERR <UNDEFINED> *i");
  EXPECT_EQ(Run("f i=1:1:3 d kill^lp"), "ERR <UNDEFINED> *i");
  // A NEW in a called frame hides the loop variable only while it lasts.
  EXPECT_EQ(Run("f i=1:1:3 d hide^lp w i"), "n1n2n3");
  // The loop variable may be the caller's, through a by-reference formal.
  EXPECT_EQ(Run("s a=0 d byref^lp(.a) w \"|\",a"), "1245|5");
  EXPECT_EQ(Run("f x(1)=1:1:3 w x(1)"), "123");
  EXPECT_EQ(Run("f i=\"2abc\":1:4 w i"), "234");
  EXPECT_EQ(Run("f i=1:.5:2 s x=i w i,\",\""), "1,1.5,2,");
  // The counter replaces whatever the variable held, string and $PIECE
  // position included.
  EXPECT_EQ(Run("f i=1:1:3 s i=i_\"x\" w i"), "1x2x3x");
  EXPECT_EQ(Run("s i=\"ab^cd\" w $p(i,\"^\",2) f i=12345:1:12345 w \"|\",$p(i,\"^\",2),\"|\",i"), "cd||12345");
}

TEST_F(EngineTest, CopiesOfComputedNumbersKeepBothForms) {
  // A computed number copies without its string; each copy makes its own.
  EXPECT_EQ(Run("s a=1/4,b=a,c=b w a,\" \",b_\"x\",\" \",c+1"), ".25 .25x 1.25");
  EXPECT_EQ(Run("s a=\"07\",b=a w b,\" \",b+0"), "07 7");
  EXPECT_EQ(Run("s a=2*3,(b,c)=a s b=b_1 w a,b,c"), "6616");
  EXPECT_EQ(Run("s x(1)=5*5,y=x(1) w y,$l(y)"), "252");
  // A variable whose string was made, then given a new number.
  EXPECT_EQ(Run("s a=5 w a s a=a+1 w a,$l(a_a)"), "562");
  EXPECT_EQ(Run("s r=\"1^2\" w $p(r,\"^\",2) s r=3*4 w $p(r,\"^\",1),$p(r,\"^\",2),\"|\""), "212|");
}

TEST_F(EngineTest, PieceScansResumeOnlyOverTheSameValue) {
  EXPECT_EQ(Run("s r=\"a\"_$c(0)_\"b\"_$c(0)_\"c\" w $p(r,$c(0),2),$p(r,$c(0),3),$p(r,$c(0),4),\"|\""), "bc|");
  EXPECT_EQ(Run("s r=\"a::b::c\" w $p(r,\"::\",2),$p(r,\":\",3),$p(r,\"::\",3),$p(r,\"::b\",2)"), "bbc::c");
  // A copy of the value, and the value changed through another name.
  EXPECT_EQ(Run("s r=\"a^b^c\" w $p(r,\"^\",3) s q=r w $p(q,\"^\",2),$p(q,\"^\",3)"), "cbc");
  Save("pc", {"pc ; change a value behind its name", "chg(v) s v=\"x^y^z^w\" q"});
  EXPECT_EQ(Run("s r=\"a^b^c\" w $p(r,\"^\",2) d chg^pc(.r) w $p(r,\"^\",3),$p(r,\"^\",4)"), "bzw");
  EXPECT_EQ(Run("s r=\"a^b^c\" w $p(r,\"^\",3) s $e(r,1)=\"^\" w $p(r,\"^\",3),$p(r,\"^\",4)"), "cbc");
  EXPECT_EQ(Run("s r=\"a^b^c\" w $p(r,\"^\",-1),$p(r,\"^\",2,9),$p(r,\"^\",3,2),\"|\""), "b^c|");
  // Positions are truncated numbers of whatever the arguments hold.
  EXPECT_EQ(Eval("$e(\"abcdef\",2.7,\"4x\")_$p(\"a^b^c\",\"^\",\"2.9\",-1+4)"), "bcdb^c");
}

}  // namespace
