#include <gtest/gtest.h>

#include <memory_resource>
#include <new>

#include "distribution/routine_name.h"
#include "engine/upload.h"

namespace dorvik {
namespace {

std::vector<std::string> Chunks(const std::vector<std::string>& lines, int limit) {
  std::vector<std::string> chunks;
  std::size_t k = 1;
  while (k < lines.size()) AppendChunk(lines, k, static_cast<std::size_t>(limit), chunks.emplace_back());
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

// When memory runs out while a chunk is built, the chunk keeps the whole
// lines appended so far (no dangling CR LF), and k has moved past the line
// that failed, so the fill sends what was built and goes on instead of
// sending an empty chunk for the same line again.
TEST(JoinLines, AChunkThatCannotGrowKeepsWhatWasBuilt) {
  const std::vector<std::string> lines = {"R", std::string(100, 'a'), std::string(100, 'b'), std::string(100, 'c'),
                                          std::string(100, 'd')};
  alignas(std::max_align_t) char arena[400];
  std::pmr::monotonic_buffer_resource memory(arena, sizeof arena, std::pmr::null_memory_resource());
  std::pmr::string chunk(&memory);
  std::size_t k = 1;
  EXPECT_THROW(AppendChunk(lines, k, 32700, chunk), std::bad_alloc);
  ASSERT_GE(k, 3u) << "at least one line fits before memory runs out";
  std::string expected;
  for (std::size_t i = 1; i + 1 < k; ++i) expected += (i > 1 ? "\r\n" : "") + lines[i];
  EXPECT_EQ(std::string(chunk), expected);
  EXPECT_LT(k, lines.size() + 1);

  // A chunk whose first line fails is empty, and k still moves on.
  alignas(std::max_align_t) char tiny[16];
  std::pmr::monotonic_buffer_resource none(tiny, sizeof tiny, std::pmr::null_memory_resource());
  std::pmr::string empty(&none);
  std::size_t first = 2;
  EXPECT_THROW(AppendChunk(lines, first, 32700, empty), std::bad_alloc);
  EXPECT_EQ(first, 3u);
  EXPECT_TRUE(empty.empty());
}

TEST(SaveLine, TheGeneratedRoutineSavesWithoutKillingTheMacroSource) {
  const std::string full = SaveRoutineLine("dorvik");
  const std::string plain = SaveRoutineLine("dorvik", /*killMacroSource=*/false);
  EXPECT_EQ("k ^rMAC(\"dorvik\") " + plain, full);
  EXPECT_EQ(plain.rfind("ZR  X ", 0), 0u);
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
