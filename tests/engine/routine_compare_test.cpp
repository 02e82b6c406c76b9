// The routine comparison behind plan and verify: its line counts, its sums
// and how it reads the server's one answer per routine.
#include <gtest/gtest.h>

#include "engine/routine_compare.h"

namespace dorvik {
namespace {

std::vector<std::uint32_t> Sums(const std::vector<std::string>& text) {
  std::vector<std::uint32_t> sums;
  for (const auto& line : text) sums.push_back(Crc32(line));
  return sums;
}

std::pair<int, int> Changes(const std::vector<std::string>& before, const std::vector<std::string>& after) {
  int added = -1, removed = -1;
  CountLineChanges(Sums(before), Sums(after), added, removed);
  return {added, removed};
}

TEST(CountLineChanges, CountsTheLinesOutsideTheLongestCommonSubsequence) {
  EXPECT_EQ(Changes({"a", "b", "c"}, {"a", "b", "c"}), std::make_pair(0, 0));
  EXPECT_EQ(Changes({}, {"a", "b"}), std::make_pair(2, 0));
  EXPECT_EQ(Changes({"a", "b"}, {}), std::make_pair(0, 2));
  EXPECT_EQ(Changes({"a", "b", "c"}, {"a", "x", "b", "c"}), std::make_pair(1, 0));
  EXPECT_EQ(Changes({"a", "b", "c"}, {"a", "x", "c"}), std::make_pair(1, 1));
  // A moved line counts as removed in one place and added in another.
  EXPECT_EQ(Changes({"a", "b", "c", "d"}, {"b", "c", "d", "a"}), std::make_pair(1, 1));
  // Repeated lines are matched one for one.
  EXPECT_EQ(Changes({"q", "q", "q"}, {"q", "x", "q"}), std::make_pair(1, 1));
  EXPECT_EQ(Changes({"q", "q", "q"}, {"q"}), std::make_pair(0, 2));
  EXPECT_EQ(Changes({"a", "b"}, {"c", "d", "e"}), std::make_pair(3, 2));
}

TEST(Crc32, MatchesTheStandardCheckValueAndContinuesFromASeed) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32(""), 0u);
  EXPECT_EQ(Crc32("C", Crc32("AB")), Crc32("ABC"));
  EXPECT_EQ(LineSums({"R", "ABC", ""}), "2743272264,0,");
}

// A server that answers each call from a script and records the calls.
class ScriptedLink : public ServerLink {
 public:
  std::vector<std::string> answers;  // P1 after each call
  int errorOnCall = -1;
  std::vector<std::pair<std::string, std::string>> params;  // P1, P2 of each call

  void SetServer(const std::string&) override {}
  std::string GetServer() override { return {}; }
  void SetNamespace(const std::string&) override {}
  void SetParam(int n, const std::string& value) override { (n == 1 ? p1_ : p2_) = value; }
  std::string GetParam(int n) override { return n == 1 ? p1_ : p2_; }
  void RunCode(const std::string&) override {
    params.emplace_back(p1_, p2_);
    const auto call = params.size() - 1;
    error_ = static_cast<int>(call) == errorOnCall ? 1 : 0;
    if (error_ == 0) p1_ = answers.at(call);
  }
  std::string GetValue() override { return {}; }
  void SetValue(const std::string&) override {}
  void ClearError() override { error_ = 0; }
  int ErrorCode() override { return error_; }
  std::string ErrorText() override { return "<UNDEFINED>"; }

 private:
  std::string p1_, p2_;
  int error_ = 0;
};

TEST(CompareRoutine, ReadsEachAnswerOfTheOneCallPerRoutine) {
  const std::vector<std::string> routine = {"ABC", "ABC ;x", " Q"};
  ScriptedLink link;
  const std::string serverSums = std::to_string(Crc32("ABC ;old")) + "," + std::to_string(Crc32(" Q")) + ",";
  link.answers = {"=", "+", "-1", "-0", "~" + serverSums, "~" + serverSums + "12", "?"};

  EXPECT_EQ(CompareRoutine(link, routine).state, RoutineState::Unchanged);
  ASSERT_EQ(link.params.size(), 1u);
  EXPECT_EQ(link.params[0].first, "ABC");
  EXPECT_EQ(link.params[0].second, std::to_string(Crc32(LineSums(routine))));
  EXPECT_EQ(CompareRoutine(link, routine).state, RoutineState::New);
  EXPECT_EQ(CompareRoutine(link, routine).state, RoutineState::WithoutSource);
  EXPECT_EQ(CompareRoutine(link, routine).state, RoutineState::DoesNotLoad);
  const RoutineComparison changed = CompareRoutine(link, routine);
  EXPECT_EQ(changed.state, RoutineState::Changed);
  EXPECT_EQ(changed.added, 1);
  EXPECT_EQ(changed.removed, 1);
  // An answer this code cannot read is a failure, never a guess.
  EXPECT_THROW(CompareRoutine(link, routine), ServerCallError);
  EXPECT_THROW(CompareRoutine(link, routine), ServerCallError);
  EXPECT_EQ(link.params.size(), 7u);
}

TEST(CompareRoutine, AServerErrorIsAFailureWithItsText) {
  ScriptedLink link;
  link.errorOnCall = 0;
  try {
    CompareRoutine(link, {"ABC", " Q"});
    FAIL() << "no failure";
  } catch (const ServerCallError& e) {
    EXPECT_STREQ(e.what(), "<UNDEFINED>");
  }
}

}  // namespace
}  // namespace dorvik
