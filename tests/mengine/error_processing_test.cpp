// Error processing where the Cache dialect has rules of its own (the
// standard's rules shared with GT.M are differential cases in
// gtm_corpus.txt): $ZTRAP before $ETRAP, <ECODETRAP>, the form of
// $STACK(n,"PLACE"), and $ECODE as one host call leaves it.
#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace {

class ErrorProcessingTest : public EngineTest {
 protected:
  ErrorProcessingTest() {
    Save("ep", {"ep ; error processing",
                // $ZTRAP and $ETRAP set at the same level: $ZTRAP takes it
                "both s $zt=\"zh\",$et=\"w \"\"etrap \"\" s $ec=\"\"\"\"\" s x=1/0 q",
                "zh w \"ztrap:\",$p($ec,\",\",2) q",
                // $ZTRAP of a caller is in effect: the frames unwind to it and
                // the $ETRAP of the level of the error does not run
                "outer s $zt=\"oh\" d inner w \"not here\" q", "oh w \"outer ztrap\" q",
                "inner n $et s $et=\"w \"\"etrap \"\" s $ec=\"\"\"\"\" s x=undef q",
                // without $ZTRAP, $ETRAP runs
                "only n $et s $et=\"w \"\"etrap:\"\",$ec s $ec=\"\"\"\"\" s x=undef w \"not here\" q",
                // SET $ECODE is the error <ECODETRAP>
                "user n $et s $et=\"w $p($ze,\"\">\"\"),\"\">\"\",$ec s $ec=\"\"\"\"\" s $ec=\",U5,\" q",
                // $STACK(n,"PLACE") ends with the number of the command
                "place n $et s $et=\"w $st($st(-1)-1,\"\"PLACE\"\"),\"\"|\"\",$st($st(-1),\"\"PLACE\"\") s $ec=\"\"\"\"\" d p2 q",
                "p2 s a=1 s x=$$p3() q", "p3() w $st($st),\" \" s $ec=\",U1,\" q 1"});
  }
};

struct TrapCase {
  const char* line;
  const char* output;
};

TEST_F(ErrorProcessingTest, ZTrapTakesTheErrorBeforeETrap) {
  const TrapCase cases[] = {
      {"d both^ep", "ztrap:M9"},
      {"d outer^ep", "outer ztrap"},
      {"d only^ep", "etrap:,M6,"},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.line), c.output) << c.line;
}

TEST_F(ErrorProcessingTest, SetECodeIsTheErrorEcodetrapWithThatCode) {
  EXPECT_EQ(Run("d user^ep"), "<ECODETRAP>,U5,");
  // A code without its commas gets them.
  EXPECT_EQ(Run("s $et=\"w $ec s $ec=\"\"\"\"\" s $ec=\"U6\""), ",U6,");
  EXPECT_EQ(Run("s $et=\"\" s $ec=\",U7,\""), "ERR <ECODETRAP>");
}

TEST_F(ErrorProcessingTest, StackPlaceNamesTheCommand) {
  EXPECT_EQ(Run("d place^ep"), "$$ p2^ep +2|p3^ep +2");
  EXPECT_EQ(Run("s $et=\"w $st(0,\"\"PLACE\"\") s $ec=\"\"\"\"\" s a=1 s $ec=\",U1,\""), "@ +3");
  EXPECT_EQ(Run("s $et=\"\" w $st(0,\"NONE\")"), "ERR <FUNCTION>");
}

TEST_F(ErrorProcessingTest, ECodeLastsOneHostCall) {
  // An untrapped error leaves $ECODE set to the end of the call only: a
  // later call (the next line on the connection) starts without an error.
  EXPECT_EQ(Run("w undef"), "ERR <UNDEFINED> *undef");
  EXPECT_EQ(Run("w \"[\",$ec,\"]\""), "[]");
  // A trap that does not clear $ECODE at the outermost level ends the call
  // with the error.
  EXPECT_EQ(Run("s $et=\"w \"\"seen \"\"\" w 1/0"), "ERR <DIVIDE>");
  EXPECT_EQ(Run("s $et=\"w \"\"seen \"\" s $ec=\"\"\"\"\" w 1/0 w \"not here\""), "seen ");
  // Errors caught in a loop keep the newest codes, 512 bytes at most.
  EXPECT_EQ(Run("f i=1:1:1000 try { s:i<1000 x=1/0 s:i=1000 x=undef } catch {  }  w:i=1000 $l($ec)'>512,$p($ec,\",\",$l($ec,\",\")-1)"),
            "1M6");
}

}  // namespace
