// TRY/CATCH blocks and THROW (the Cache dialect; GT.M has none): blocks on
// one line and over several, nesting, QUIT and GOTO out of blocks, the
// exception value's properties, THROW of a caught exception, and how the
// blocks meet $ZTRAP, $ETRAP and frames.
#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace {

class TryCatchTest : public EngineTest {
 protected:
  TryCatchTest() {
    Save("tc", {"tc ; try and catch",
                // a block over several lines, the catch variable's properties
                "lines try {", " w \"b\"", " k y w y", " w \"not here\"", " }", " catch ex {",
                " w \" \",ex.Name,\"|\",ex.Code,\"|\",ex.Location,\"|\",ex.Data", " }", " w \" after\" q",
                // an error in a frame called from the TRY block
                "called try { d sub } catch e { w \"c:\",e.Name,\" \",e.Location } w \" after\" q",
                "sub w \"sub \" s a=b q",
                // GOTO out of a TRY block leaves it: a later error is not caught there
                "goto try { g gone } catch { w \"not here\" }", "gone w \"gone \" s x=1/0 q",
                // a $ZTRAP of the frame around: the TRY block inside takes the error first
                "ztrap s $zt=\"zh\" d zin w \" back\" q", "zh w \"ztrap\" q",
                "zin try { s x=1/0 } catch { w \"caught\" } q",
                // $ETRAP does not run while a TRY block of an outer frame is open
                "etrap try { d ein } catch e { w \"caught:\",$p(e.Name,\">\")_\">\" } q",
                "ein n $et s $et=\"w \"\"etrap \"\" s $ec=\"\"\"\"\" s x=undef q",
                // QUIT in a FOR loop inside a TRY block ends the loop, not the block
                "loop try { f i=1:1:5 q:i=3  w i", " w \" in\" } catch { } w \" out\" q"});
  }
};

struct TryCase {
  const char* line;
  const char* output;
};

TEST_F(TryCatchTest, BlocksCatchErrorsAndGoOnAfterTheCatchBlock) {
  const TryCase cases[] = {
      {R"(try { w "a" s x=1/0 w "no" } catch e { w " ",e.Name,"|",e.Code,"|",e.Data } w " after")",
       "a <DIVIDE>|18| after"},
      {R"(try { w "a" } catch e { w "no" } w " after")", "a after"},
      {"d lines^tc", "b <UNDEFINED>|9|lines+2^tc|y after"},
      // nested: an error inside the inner CATCH block goes to the outer one
      {R"(try { try { w 1/0 } catch i { w "inner " s z=undef } } catch o { w "outer:",o.Data } w " after")",
       "inner outer:undef after"},
      // the catch variable may be left out, or written in parentheses
      {R"(try { s x=undef } catch { w "caught" })", "caught"},
      {R"(try { s x=undef } catch (e) { w e.Data })", "undef"},
      // $ZERROR is set as for any error
      {R"(try { s x=undef } catch e { w $p($ze,">")_">" })", "<UNDEFINED>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.line), c.output) << c.line;
}

TEST_F(TryCatchTest, QuitAndGotoLeaveBlocks) {
  const TryCase cases[] = {
      // an argumentless QUIT leaves the TRY block, after its CATCH block
      {R"(try { w "q" q  w "no" } catch { w "no" } w " after")", "q after"},
      {R"(try { s x=1/0 } catch { w "c" q  w "no" } w " after")", "c after"},
      {"d loop^tc", "12 in out"},
      // a TRY block in a FOR loop's body: the loop goes on after the CATCH block
      {R"(f i=1:1:3 try { w i s:i=2 x=1/0 w "." } catch { w "c" q:i=2  w "d" } w "e")", "1.e2ce3.e"},
      {"d goto^tc", "ERR <DIVIDE>gone^tc"},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.line), c.output) << c.line;
}

TEST_F(TryCatchTest, ThrowPassesACaughtExceptionOn) {
  EXPECT_EQ(Run(R"(try { try { s x=undef7 } catch e { throw e } } catch f { w f.Data," ",e=f })"), "undef7 1");
  // Uncaught, the thrown error ends the call with its name.
  EXPECT_EQ(Run(R"(try { s x=1/0 } catch e { s k=e }  throw k)").rfind("ERR <DIVIDE>", 0), 0u);
  // Only exception values can be thrown; other objects do not exist here.
  EXPECT_EQ(Run("throw 5"), "ERR <INVALID OREF>");
  EXPECT_EQ(Run(R"(try { s x=1/0 } catch e { w e.Nope })"), "ERR <PROPERTY DOES NOT EXIST> *Nope,%Exception.SystemException");
  EXPECT_EQ(Run("s e=1 w e.Name"), "ERR <INVALID OREF>");
}

TEST_F(TryCatchTest, FramesZTrapAndETrap) {
  EXPECT_EQ(Run("d called^tc"), "sub c:<UNDEFINED> sub^tc after");
  EXPECT_EQ(Run("d ztrap^tc"), "caught back");
  EXPECT_EQ(Run("d etrap^tc"), "caught:<UNDEFINED>");
}

TEST_F(TryCatchTest, BracesThatDoNotPairAreSyntaxErrors) {
  const char* lines[] = {"try { w 1 }", "try { w 1", "w 1 }", R"(try { w 1 } w 2 catch { })"};
  for (const char* line : lines) EXPECT_EQ(Run(line), "ERR <SYNTAX>") << line;
  // In a routine the line where they go wrong is the error, when it runs.
  Save("bad", {"bad ; unpaired", " w \"ran \"", " try { w 1 }", " w 2", " q"});
  EXPECT_EQ(Run("d ^bad"), "ERR <SYNTAX>bad+2^bad");
}

}  // namespace
