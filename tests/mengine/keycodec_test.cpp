#include "mengine/keycodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace mengine::keycodec {
namespace {

std::string Key(std::initializer_list<std::string> subs) {
  std::vector<std::string> v(subs);
  return Encode("X", v);
}

TEST(KeyCodec, CanonicalNumbers) {
  for (const char* s : {"0", "1", "-1", ".5", "-.5", "12.25", "100", "123456789012345678"})
    EXPECT_TRUE(IsCanonicalNumber(s)) << s;
  for (const char* s : {"", "-", "01", "1.0", "-0", "1E3", "+1", "0.5", ".", "1.", "a", " 1", "1 "})
    EXPECT_FALSE(IsCanonicalNumber(s)) << s;
}

TEST(KeyCodec, SortsInMCollation) {
  // Expected order: numbers numerically (negatives and fractions included),
  // then strings in byte order (non-canonical numeric strings are strings).
  std::vector<std::string> ordered = {"-1000",
                                      "-12.5",
                                      "-12",
                                      "-1",
                                      "-.5",
                                      "-.05",
                                      "0",
                                      ".001",
                                      ".5",
                                      "1",
                                      "1.5",
                                      "2",
                                      "10",
                                      "99",
                                      "100",
                                      "1000.25",
                                      "123456789012345678",
                                      " ",
                                      "!",
                                      "-0",
                                      "01",
                                      "1.0",
                                      "1E3",
                                      "A",
                                      "AB",
                                      "B",
                                      "a",
                                      std::string("a\0", 2),
                                      std::string("a\x01", 2),
                                      "a\x02",
                                      "\xE0\xFF"};
  std::vector<std::string> keys;
  for (const auto& s : ordered) keys.push_back(Key({s}));
  for (std::size_t i = 1; i < keys.size(); ++i)
    EXPECT_LT(keys[i - 1], keys[i]) << ordered[i - 1] << " vs " << ordered[i];
  std::mt19937 rng(7);
  auto shuffled = keys;
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  std::sort(shuffled.begin(), shuffled.end());
  EXPECT_EQ(shuffled, keys);
}

TEST(KeyCodec, RoundTripAndStructure) {
  std::vector<std::string> subs = {"-3.25", "0", "abc", std::string("\0\x01\xFF", 3), "1E3", "42"};
  std::string key = Encode("dorvik", subs);
  std::string name;
  std::vector<std::string> back;
  ASSERT_TRUE(Decode(key, name, back));
  EXPECT_EQ(name, "dorvik");
  EXPECT_EQ(back, subs);
  EXPECT_EQ(SubscriptCount(key), subs.size());
  EXPECT_EQ(Parent(key), Encode("dorvik", std::vector<std::string>(subs.begin(), subs.end() - 1)));
  EXPECT_EQ(Parent(EncodeName("dorvik")), EncodeName("dorvik"));

  // Descendants share the prefix and sort before the past-descendants bound.
  std::string parent = Key({"1"});
  std::string child = Key({"1", "zzz"});
  std::string sibling = Key({"2"});
  EXPECT_EQ(child.compare(0, parent.size(), parent), 0);
  std::string past = parent + kPastDescendants;
  EXPECT_LT(child, past);
  EXPECT_LT(past, sibling);
  EXPECT_EQ(ChildOnPath(parent, Key({"1", "zzz", "q"})), child);
  // Different names never nest.
  EXPECT_NE(Encode("AB", std::vector<std::string>{}).rfind(EncodeName("A"), 0), 0u);

  EXPECT_FALSE(Decode(std::string("X\0\x41", 3), name, back));
  EXPECT_FALSE(Decode("noterminator", name, back));
}

}  // namespace
}  // namespace mengine::keycodec
