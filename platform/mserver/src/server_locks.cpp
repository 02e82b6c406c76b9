#include "mserver/server_locks.h"

#include <vector>

#include "mengine/keycodec.h"
#include "mserver/server_host.h"

namespace mserver {
namespace {

// Calls visit(node, false) for each ancestor of the resource, the
// unsubscripted name first, then visit(resource, true). A resource is the
// namespace, 0x00 and a key; a key that cannot be split (never made by the
// engine) counts as one node.
template <class Visit>
void ForEachLevel(std::string_view resource, Visit&& visit) {
  const std::size_t split = resource.find('\0');
  if (split != std::string_view::npos) {
    const std::string_view key = resource.substr(split + 1);
    std::size_t pos = mengine::keycodec::NameLength(key);
    while (pos != 0 && pos < key.size()) {
      visit(resource.substr(0, split + 1 + pos), false);
      const std::size_t length = mengine::keycodec::SubscriptLength(key, pos);
      if (length == 0) break;
      pos += length;
    }
  }
  visit(resource, true);
}

}  // namespace

std::string ServerLockTable::Canonical(std::string_view resource) {
  const std::size_t split = resource.find('\0');
  if (split == std::string_view::npos) return std::string(resource);
  const std::string_view key = resource.substr(split + 1);
  std::string out = key.size() >= 2 && key[0] == '^' && key[1] == '%' ? std::string(kSystemNamespace)
                                                                      : NamespaceName(resource.substr(0, split));
  out.push_back('\0');
  out.append(key);
  return out;
}

// Free for `owner` when no other owner holds an ancestor of the resource,
// the resource itself or a descendant of it.
bool ServerLockTable::Free(std::uint64_t owner, std::string_view resource) {
  bool free = true;
  ForEachLevel(resource, [&](std::string_view node, bool self) {
    if (!free) return;
    if (!self) {
      const auto held = held_.find(node);
      free = held == held_.end() || held->second.owner == owner;
      return;
    }
    const auto all = under_.find(node);
    if (all == under_.end()) return;
    const auto mine = ownUnder_.find(OwnerNodeView(owner, node));
    free = all->second == (mine == ownUnder_.end() ? 0 : mine->second);
  });
  return free;
}

void ServerLockTable::CountUnder(std::uint64_t owner, std::string_view resource, int change) {
  ForEachLevel(resource, [&](std::string_view node, bool) {
    auto all = under_.find(node);
    auto mine = ownUnder_.find(OwnerNodeView(owner, node));
    if (change > 0) {
      if (all == under_.end()) all = under_.emplace(std::string(node), 0).first;
      if (mine == ownUnder_.end()) mine = ownUnder_.emplace(OwnerNode(owner, node), 0).first;
      ++all->second;
      ++mine->second;
      return;
    }
    if (--all->second == 0) under_.erase(all);
    if (--mine->second == 0) ownUnder_.erase(mine);
  });
}

void ServerLockTable::Take(std::uint64_t owner, const std::string& resource) {
  auto [held, added] = held_.try_emplace(resource, Held{owner, 0});
  ++held->second.count;
  if (!added) return;
  CountUnder(owner, resource, +1);
  byOwner_[owner].insert(resource);
}

void ServerLockTable::Drop(std::uint64_t owner, const std::string& resource) {
  held_.erase(resource);
  CountUnder(owner, resource, -1);
}

bool ServerLockTable::Acquire(std::uint64_t owner, std::span<const std::string> resources,
                              std::chrono::milliseconds timeout, const std::function<bool()>& cancelled) {
  std::vector<std::string> canonical;
  canonical.reserve(resources.size());
  for (const std::string& r : resources) canonical.push_back(Canonical(r));

  std::unique_lock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    bool all = true;
    for (const std::string& r : canonical) all = all && Free(owner, r);
    if (all) {
      for (const std::string& r : canonical) Take(owner, r);
      return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (timeout.count() >= 0 && now >= deadline) return false;
    if (cancelled && cancelled()) return false;
    auto slice = std::chrono::milliseconds(50);
    if (timeout.count() >= 0) {
      slice = std::min(
          slice, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1));
    }
    changed_.wait_for(lock, slice);
  }
}

void ServerLockTable::Release(std::uint64_t owner, std::string_view resource) {
  const std::string r = Canonical(resource);
  std::lock_guard lock(mutex_);
  const auto held = held_.find(r);
  if (held == held_.end() || held->second.owner != owner) return;
  if (--held->second.count > 0) return;
  Drop(owner, r);
  const auto mine = byOwner_.find(owner);
  mine->second.erase(r);
  if (mine->second.empty()) byOwner_.erase(mine);
  changed_.notify_all();
}

void ServerLockTable::ReleaseAll(std::uint64_t owner) {
  std::lock_guard lock(mutex_);
  const auto mine = byOwner_.find(owner);
  if (mine == byOwner_.end()) return;
  const std::unordered_set<std::string> names = std::move(mine->second);
  byOwner_.erase(mine);
  for (const std::string& r : names) Drop(owner, r);
  changed_.notify_all();
}

bool ServerLockTable::HoldsAny(std::uint64_t owner) {
  std::lock_guard lock(mutex_);
  return byOwner_.contains(owner);
}

}  // namespace mserver
