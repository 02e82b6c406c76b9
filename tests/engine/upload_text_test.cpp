#include <gtest/gtest.h>

#include "distribution/routine_name.h"
#include "engine/upload.h"

namespace dorvik {
namespace {

std::vector<std::string> Chunks(const std::vector<std::string>& lines, int limit) {
  std::vector<std::string> chunks;
  std::size_t k = 1;
  while (k < lines.size()) chunks.push_back(JoinLines(lines, k, limit));
  return chunks;
}

TEST(JoinLines, ChunksGrowUntilTheLimit) {
  EXPECT_EQ(Chunks({"R", "only"}, 32700), std::vector<std::string>{"only"});
  EXPECT_EQ(Chunks({"R", "a", "b", "c"}, 32700), std::vector<std::string>{"a\r\nb\r\nc"});
  // A chunk stops once it reaches the limit: it may pass it by CR LF and one line.
  EXPECT_EQ(Chunks({"R", "aaaa", "bb", "cc", "d"}, 5), (std::vector<std::string>{"aaaa\r\nbb", "cc\r\nd"}));
  // A line that alone reaches the limit is a chunk of its own, and so is a
  // last line that starts a new chunk.
  EXPECT_EQ(Chunks({"R", "xxxxxx", "y"}, 5), (std::vector<std::string>{"xxxxxx", "y"}));
  EXPECT_TRUE(Chunks({"R"}, 5).empty());
  // Every line arrives once, in order, whatever the limit.
  std::vector<std::string> lines = {"R"};
  for (int i = 0; i < 200; ++i) lines.push_back(std::string(static_cast<std::size_t>(i % 37), 'a' + i % 26));
  for (int limit : {1, 7, 100, 32700}) {
    std::string joined;
    for (const auto& c : Chunks(lines, limit)) joined += (joined.empty() ? "" : "\r\n") + c;
    std::string expected;
    for (std::size_t i = 1; i < lines.size(); ++i) expected += (i > 1 ? "\r\n" : "") + lines[i];
    EXPECT_EQ(joined, expected) << limit;
  }
}

TEST(RoutineNames, OnlyNamesAServerCanStore) {
  for (const char* ok : {"A", "%ZLIB", "dorvik", "Abc123", "My.Pkg.R1", "%Z.X", "My.Class.1"}) {
    EXPECT_TRUE(IsValidRoutineName(ok)) << ok;
  }
  for (const char* bad : {"", "%", "1ABC", "%1", "A B", "A\")", "A^B", ".A", "A.", "A..B", "Ñ", "X\"", "K ^X"}) {
    EXPECT_FALSE(IsValidRoutineName(bad)) << bad;
  }
  EXPECT_FALSE(IsValidRoutineName(std::string(256, 'A')));
}

TEST(SaveLine, TheFivePiecesExactly) {
  const std::string line = SaveRoutineLine("ABC");
  const std::string middle =
      "ZR  X \"s i=\"\"\"\",q=$C(13,10) f  s i=$o(text(i)) Q:i=\"\"\"\"  s s=\"\"\"\" f k=1:1:$l(text(i),q) s "
      "s=$p(text(i),q,k) ZI s\" ZS ";
  EXPECT_EQ(middle.size(), 117u);
  EXPECT_EQ(line, "k ^rMAC(\"ABC\") " + middle + "ABC");
}

}  // namespace
}  // namespace dorvik
