// $ZCRC: the sums the installer's plan and verify compare against.
#include "engine_fixture.h"

namespace {

using ChecksumTest = EngineTest;

TEST_F(ChecksumTest, ModesGiveTheDocumentedSumsOfABC) {
  EXPECT_EQ(Eval("$ZCRC(\"ABC\",0)"), "198");
  EXPECT_EQ(Eval("$ZCRC(\"ABC\",1)"), "64");
  EXPECT_EQ(Eval("$ZCRC(\"ABC\",7)"), "2743272264");
  EXPECT_EQ(Eval("$ZCRC(22,0)"), "100");  // a number is summed as its digits
  EXPECT_EQ(Eval("$ZCRC(\"\",7)"), "0");
  // The standard check value of CRC-32.
  EXPECT_EQ(Eval("$ZCRC(\"123456789\",7)"), "3421780262");
}

TEST_F(ChecksumTest, SeedContinuesASumAsOverTheJoinedString) {
  EXPECT_EQ(Eval("$ZCRC(\"C\",7,$ZCRC(\"AB\",7))"), Eval("$ZCRC(\"ABC\",7)"));
  EXPECT_EQ(Eval("$ZCRC(\"C\",0,$ZCRC(\"AB\",0))"), "198");
  EXPECT_EQ(Eval("$ZCRC(\"C\",1,$ZCRC(\"AB\",1))"), "64");
  // Bytes above 127 (code page 866 text) are summed as bytes.
  EXPECT_EQ(Eval("$ZCRC($C(128,255),0)"), "383");
}

TEST_F(ChecksumTest, UnknownModeAndWrongArgumentsAreErrors) {
  EXPECT_NE(Eval("$ZCRC(\"ABC\",3)").find("FUNCTION"), std::string::npos);
  EXPECT_EQ(Eval("$ZCRC(\"ABC\")").rfind("ERR", 0), 0u);
  EXPECT_EQ(Eval("$ZCRC(\"ABC\",7,0,1)").rfind("ERR", 0), 0u);
}

}  // namespace
