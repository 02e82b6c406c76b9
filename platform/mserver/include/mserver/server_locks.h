// The server's lock table. Resource names are made canonical first, so that
// the same global locked from "user" and "USER", or a % global locked from
// two namespaces (it lives in %SYS), is one resource.
//
// A LOCK or its release costs the same however many locks are held: a
// resource conflicts with its ancestors and its descendants (engine's
// LockTable), and the table answers both from hashed counts kept per tree
// node instead of walking every held lock. Taking or dropping one resource
// touches one entry per subscript level of its name; ReleaseAll touches the
// owner's own locks only.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "mengine/host.h"

namespace mserver {

class ServerLockTable final : public mengine::LockTable {
 public:
  bool Acquire(std::uint64_t owner, std::span<const std::string> resources, std::chrono::milliseconds timeout,
               const std::function<bool()>& cancelled) override;
  void Release(std::uint64_t owner, std::string_view resource) override;
  void ReleaseAll(std::uint64_t owner) override;
  // Whether the owner holds any lock.
  bool HoldsAny(std::uint64_t owner);

  // Upper-case namespace; %SYS for globals whose name begins with '%'.
  static std::string Canonical(std::string_view resource);

 private:
  struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  template <class V>
  using ByName = std::unordered_map<std::string, V, StringHash, std::equal_to<>>;
  struct Held {
    std::uint64_t owner;
    long count;  // incremental LOCK +: as many releases as acquisitions
  };
  // One owner's share of a tree node; looked up by a view of the node.
  using OwnerNode = std::pair<std::uint64_t, std::string>;
  using OwnerNodeView = std::pair<std::uint64_t, std::string_view>;
  struct OwnerNodeHash {
    using is_transparent = void;
    std::size_t operator()(const OwnerNodeView& k) const {
      return std::hash<std::string_view>{}(k.second) ^ (k.first * 0x9E3779B97F4A7C15ULL);
    }
    std::size_t operator()(const OwnerNode& k) const { return (*this)(OwnerNodeView(k.first, k.second)); }
  };
  struct OwnerNodeEqual {
    using is_transparent = void;
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
      return a.first == b.first && std::string_view(a.second) == std::string_view(b.second);
    }
  };

  bool Free(std::uint64_t owner, std::string_view resource);
  void Take(std::uint64_t owner, const std::string& resource);
  void Drop(std::uint64_t owner, const std::string& resource);
  void CountUnder(std::uint64_t owner, std::string_view resource, int change);

  std::mutex mutex_;
  std::condition_variable changed_;
  ByName<Held> held_;  // every held resource; two owners never hold one
  // For every node that is a held resource or an ancestor of one: how many
  // held resources lie at or under it, in all and of each owner.
  ByName<std::size_t> under_;
  std::unordered_map<OwnerNode, std::size_t, OwnerNodeHash, OwnerNodeEqual> ownUnder_;
  std::unordered_map<std::uint64_t, std::unordered_set<std::string>> byOwner_;
};

}  // namespace mserver
