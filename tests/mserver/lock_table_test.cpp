// The server's lock table in process: which resources conflict, counts of
// incremental locks, all-or-none lists, release of one owner's locks among
// many, and a waiter woken by a release.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "mengine/host.h"
#include "mengine/keycodec.h"
#include "mserver/server_locks.h"

namespace {

using namespace std::chrono_literals;
using mserver::ServerLockTable;

// "USER", "^A", {"1", "x"} -> the resource of ^A(1,"x") in USER.
std::string R(const std::string& ns, const std::string& name, std::vector<std::string> subscripts = {}) {
  return mengine::LockResource(ns, mengine::keycodec::Encode(name, subscripts));
}

bool Lock(ServerLockTable& table, std::uint64_t owner, const std::string& resource) {
  return table.Acquire(owner, std::span(&resource, 1), 0ms, {});
}

TEST(LockTable, WhatConflictsWithAHeldLock) {
  struct Case {
    const char* what;
    std::string held;
    std::string wanted;
    bool free;
  };
  const std::vector<Case> cases = {
      {"the same node", R("USER", "^A", {"1"}), R("USER", "^A", {"1"}), false},
      {"an ancestor", R("USER", "^A", {"1", "2"}), R("USER", "^A"), false},
      {"a parent", R("USER", "^A", {"1", "2"}), R("USER", "^A", {"1"}), false},
      {"a descendant", R("USER", "^A", {"1"}), R("USER", "^A", {"1", "2", "3"}), false},
      {"a sibling", R("USER", "^A", {"1"}), R("USER", "^A", {"2"}), true},
      {"a longer sibling subscript", R("USER", "^A", {"1"}), R("USER", "^A", {"10"}), true},
      {"a string subscript sharing bytes", R("USER", "^A", {"ab"}), R("USER", "^A", {"abc"}), true},
      {"a name that begins the same", R("USER", "^A"), R("USER", "^AB"), true},
      {"a local of the same name", R("USER", "A"), R("USER", "^A"), true},
      {"another namespace", R("USER", "^A"), R("SAMPLES", "^A"), true},
      {"the namespace spelled otherwise", R("user", "^A"), R("USER", "^A", {"1"}), false},
      {"a % global from two namespaces", R("USER", "^%G", {"1"}), R("SAMPLES", "^%G"), false},
  };
  for (const Case& c : cases) {
    ServerLockTable table;
    ASSERT_TRUE(Lock(table, 1, c.held)) << c.what;
    EXPECT_EQ(Lock(table, 2, c.wanted), c.free) << c.what;
    table.ReleaseAll(2);
    EXPECT_TRUE(Lock(table, 1, c.wanted)) << c.what << ": an owner never conflicts with itself";
  }
}

TEST(LockTable, CountsListsAndReleases) {
  ServerLockTable table;
  const std::string a = R("USER", "^A"), a1 = R("USER", "^A", {"1"}), b = R("USER", "^B");
  // Incremental: two acquisitions need two releases; a release by another
  // owner changes nothing.
  ASSERT_TRUE(Lock(table, 1, a1));
  ASSERT_TRUE(Lock(table, 1, a1));
  table.Release(2, a1);
  table.Release(1, a1);
  EXPECT_FALSE(Lock(table, 2, a));
  table.Release(1, a1);
  EXPECT_FALSE(table.HoldsAny(1));
  EXPECT_TRUE(Lock(table, 2, a));
  // All or none: ^A is 2's, so 1 gets neither ^B nor ^A(1).
  const std::vector<std::string> list = {b, a1};
  EXPECT_FALSE(table.Acquire(1, list, 0ms, {}));
  EXPECT_FALSE(table.HoldsAny(1));
  EXPECT_TRUE(Lock(table, 3, b));
  // An owner holding both a node and its descendant keeps the node after
  // dropping the descendant.
  table.ReleaseAll(2);
  ASSERT_TRUE(Lock(table, 1, a));
  ASSERT_TRUE(Lock(table, 1, a1));
  table.Release(1, a1);
  EXPECT_FALSE(Lock(table, 2, a1));
  table.Release(1, a);
  EXPECT_TRUE(Lock(table, 2, a1));
}

TEST(LockTable, ManyLocksOfManyOwnersReleaseExactlyTheirOwn) {
  ServerLockTable table;
  constexpr int kOwners = 8;
  constexpr int kEach = 5000;
  for (int i = 0; i < kOwners * kEach; ++i) {
    ASSERT_TRUE(Lock(table, 1 + i % kOwners, R("USER", "^A", {std::to_string(i)})));
  }
  EXPECT_FALSE(Lock(table, 99, R("USER", "^A")));
  for (std::uint64_t owner = 1; owner < kOwners; ++owner) table.ReleaseAll(owner);
  // Only owner 8's nodes are held now.
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(Lock(table, 99, R("USER", "^A", {std::to_string(i)})), i % kOwners != kOwners - 1) << i;
  }
  EXPECT_FALSE(Lock(table, 99, R("USER", "^A")));
  table.ReleaseAll(kOwners);
  table.ReleaseAll(99);
  EXPECT_TRUE(Lock(table, 100, R("USER", "^A")));
}

TEST(LockTable, AWaiterGetsTheLockWhenItIsReleased) {
  ServerLockTable table;
  const std::string a = R("USER", "^A", {"1"});
  ASSERT_TRUE(Lock(table, 1, a));
  auto waiter = std::async(std::launch::async, [&] { return table.Acquire(2, std::span(&a, 1), -1ms, {}); });
  EXPECT_EQ(waiter.wait_for(200ms), std::future_status::timeout);
  table.ReleaseAll(1);
  EXPECT_TRUE(waiter.get());
  // A cancelled wait ends with false.
  const std::string root = R("USER", "^A");
  EXPECT_FALSE(table.Acquire(3, std::span(&root, 1), -1ms, [] { return true; }));
}

}  // namespace
