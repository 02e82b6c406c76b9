#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "mserver/byte_store.h"

namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("mserver-store-" + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::vector<std::string> Keys(const mserver::ByteStore& s, std::string_view from, std::string_view to) {
  std::vector<std::string> out;
  s.Scan(from, to, [&](std::string_view k, std::string_view) {
    out.emplace_back(k);
    return true;
  });
  return out;
}

TEST(ByteStore, OrderedWalksAndRangeDeletes) {
  TempDir dir;
  auto s = mserver::ByteStore::Open(dir.path());
  const std::vector<std::string> keys{"b", "a", "ab", "b\x01", "c", std::string("a\0z", 3), "\xff"};
  for (const std::string& k : keys) s->Put(k, k);
  EXPECT_EQ(*s->Get("ab"), "ab");
  EXPECT_FALSE(s->Get("zz").has_value());

  EXPECT_EQ(s->Next("a")->first, std::string("a\0z", 3));
  EXPECT_EQ(s->Next("aa")->first, "ab");
  EXPECT_EQ(s->Ceiling("ab")->first, "ab");
  EXPECT_EQ(s->Prev("b")->first, "ab");
  EXPECT_EQ(s->Prev("")->first, "\xff");
  EXPECT_EQ(s->Prev("zzz")->first, "c");
  EXPECT_FALSE(s->Prev("a").has_value());
  EXPECT_FALSE(s->Next("\xff").has_value());

  // [b, c) removes "b" and "b\x01" only; an empty end runs to the end.
  EXPECT_EQ(s->DeleteRange("b", "c"), 2u);
  EXPECT_EQ(Keys(*s, "", ""), (std::vector<std::string>{"a", std::string("a\0z", 3), "ab", "c", "\xff"}));
  EXPECT_EQ(s->DeleteRange("ab", ""), 3u);
  EXPECT_EQ(s->DeleteRange("x", ""), 0u);
  EXPECT_EQ(Keys(*s, "", ""), (std::vector<std::string>{"a", std::string("a\0z", 3)}));
}

// A range spanning many pages goes entirely, and nothing next to it does.
TEST(ByteStore, RangeDeleteAcrossPagesKeepsItsNeighbours) {
  TempDir dir;
  auto s = mserver::ByteStore::Open(dir.path());
  auto key = [](char prefix, int i) {
    std::string k(1, prefix);
    k += std::to_string(100000 + i);
    return k;
  };
  for (char prefix : {'a', 'b', 'c'}) {
    for (int i = 0; i < 5000; ++i) s->Put(key(prefix, i), std::string(40, prefix));
  }
  EXPECT_EQ(s->DeleteRange("b", "c"), 5000u);
  EXPECT_TRUE(Keys(*s, "b", "c").empty());
  EXPECT_EQ(Keys(*s, "a", "b").size(), 5000u);
  EXPECT_EQ(Keys(*s, "c", "d").size(), 5000u);
  // Every other key of "a", then the rest of it up to the end.
  for (int i = 0; i < 5000; i += 2) EXPECT_EQ(s->DeleteRange(key('a', i), key('a', i + 1)), 1u);
  EXPECT_EQ(Keys(*s, "a", "b").size(), 2500u);
  EXPECT_EQ(s->DeleteRange("a", ""), 7500u);
  EXPECT_TRUE(Keys(*s, "", "").empty());
}

TEST(ByteStore, RejectsBadKeysAndKeepsDataAcrossReopen) {
  TempDir dir;
  {
    auto s = mserver::ByteStore::Open(dir.path());
    EXPECT_THROW(s->Put("", "x"), mserver::StoreError);
    EXPECT_THROW(s->Put(std::string(s->MaxKeySize() + 1, 'k'), "x"), mserver::StoreError);
    for (int i = 0; i < 1000; ++i) s->Put(std::string("k").append(std::to_string(i)), std::string(100, 'x'));
    s->Put("big", std::string(4 << 20, 'y'));  // values far above a page
  }
  auto s = mserver::ByteStore::Open(dir.path());
  EXPECT_EQ(s->Get("big")->size(), std::size_t{4} << 20);
  EXPECT_EQ(Keys(*s, "k", "l").size(), 1000u);
}

}  // namespace
