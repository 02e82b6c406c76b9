// The naked indicator where this engine cannot be compared with GT.M (its
// rules shared with GT.M are differential cases in gtm_corpus.txt): extended
// references name namespaces here and global directories there, and
// $ZREFERENCE is the Cache dialect's.
#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace {

class NakedIndicatorTest : public EngineTest {
 protected:
  NakedIndicatorTest() { host_.AddNamespace("OTHER"); }
};

struct NakedCase {
  const char* line;
  const char* output;
};

TEST_F(NakedIndicatorTest, ExtendedReferencesKeepTheirNamespace) {
  // A naked reference after an extended one stays in that namespace, as the
  // standard's indicator holds the environment too.
  const NakedCase cases[] = {
      {R"(k ^|"OTHER"|A s ^|"OTHER"|A(1,2)=5 s ^(3)=6 w $d(^A(1,3)),^|"OTHER"|A(1,3))", "06"},
      {R"(k ^|"OTHER"|A s ^A(9)=1,^|"OTHER"|A(1)=2 w ^(1),$zr)", R"(2^|"OTHER"|A(1))"},
      {R"(k ^|"OTHER"|A,^A s ^|"OTHER"|A(7)=1 s ^A(1)=^(7) w ^A(1),$zr)", "1^A(1)"},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.line), c.output) << c.line;
}

TEST_F(NakedIndicatorTest, ZReferenceFollowsTheIndicator) {
  const NakedCase cases[] = {
      // the last reference in full, naked ones expanded
      {"k ^A s ^A(1,2)=3,^(4)=5 w $zr", "^A(1,4)"},
      // a SET target is the last reference once it is stored
      {"k ^A,^B s ^B(1)=1 s ^A(2)=^B(1) w $zr", "^A(2)"},
      // $NAME and LOCK leave it, $DATA of a missing node moves it
      {"k ^A s ^A(1)=1 s X=$na(^B(2)) l +^C(3) l -^C(3) w $zr", "^A(1)"},
      {"k ^A s ^A(1)=1 s X=$d(^B(2,3)) w $zr", "^B(2,3)"},
      // an unsubscripted reference leaves the indicator undefined
      {"k ^A s ^A(1)=1,^A=2 w $zr", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.line), c.output) << c.line;
}

TEST_F(NakedIndicatorTest, NakedReferenceWithoutIndicatorIsNakedError) {
  EXPECT_EQ(Run("k ^A s ^A=1 w ^(1)"), "ERR <NAKED>");
  EXPECT_EQ(Run("k ^A s ^A(1)=1 s (X,^(2))=$g(^A)"), "ERR <NAKED>");
  EXPECT_EQ(Run("k ^A s ^A(1)=1 k ^A m ^(2)=X"), "ERR <NAKED>");
}

}  // namespace
