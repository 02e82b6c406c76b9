// M tree operations over a sorted map of encoded keys (keycodec layout).
// Shared by local variables and the in-memory global store.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "mengine/keycodec.h"

namespace mengine::tree {

template <class V>
using Map = std::map<std::string, V, std::less<>>;

inline std::string Past(std::string_view key) {
  std::string k(key);
  k.push_back(keycodec::kPastDescendants);
  return k;
}

inline bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

template <class V>
int Data(const Map<V>& m, std::string_view key) {
  auto it = m.lower_bound(key);
  int d = 0;
  if (it != m.end() && it->first == key) {
    d = 1;
    ++it;
  }
  if (it != m.end() && it->first.size() > key.size() && StartsWith(it->first, key)) d += 10;
  return d;
}

template <class V>
void Kill(Map<V>& m, std::string_view key) {
  auto first = m.lower_bound(key);
  auto last = m.upper_bound(Past(key));
  m.erase(first, last);
}

// Encoded subscript of the next/previous child of parent after `after`.
template <class V>
std::optional<std::string> Order(const Map<V>& m, std::string_view parent, std::string_view after, bool reverse) {
  if (!reverse) {
    std::string from(parent);
    if (after.empty()) {
      auto it = m.upper_bound(from);
      if (it == m.end() || !StartsWith(it->first, parent) || it->first.size() <= parent.size()) return std::nullopt;
      auto child = keycodec::ChildOnPath(parent, it->first);
      return std::string(child.substr(parent.size()));
    }
    from.append(after);
    from.push_back(keycodec::kPastDescendants);
    auto it = m.upper_bound(from);
    if (it == m.end() || !StartsWith(it->first, parent)) return std::nullopt;
    auto child = keycodec::ChildOnPath(parent, it->first);
    return std::string(child.substr(parent.size()));
  }
  std::string bound(parent);
  if (after.empty())
    bound.push_back(keycodec::kPastDescendants);
  else
    bound.append(after);
  auto it = m.lower_bound(bound);
  if (it == m.begin()) return std::nullopt;
  --it;
  if (!StartsWith(it->first, parent) || it->first.size() <= parent.size()) return std::nullopt;
  auto child = keycodec::ChildOnPath(parent, it->first);
  return std::string(child.substr(parent.size()));
}

template <class V>
std::optional<std::string> Query(const Map<V>& m, std::string_view key, bool reverse) {
  std::size_t name_len = keycodec::NameLength(key);
  std::string_view name = key.substr(0, name_len);
  if (!reverse) {
    auto it = m.upper_bound(key);
    if (it == m.end() || !StartsWith(it->first, name)) return std::nullopt;
    return it->first;
  }
  auto it = m.lower_bound(key);
  if (it == m.begin()) return std::nullopt;
  --it;
  if (!StartsWith(it->first, name) || it->first.size() <= name.size()) return std::nullopt;
  return it->first;
}

// Copies the subtree at source under target (trees must not overlap).
template <class V>
void Merge(Map<V>& m, std::string_view target, std::string_view source) {
  Map<V> copy;
  for (auto it = m.lower_bound(source); it != m.end() && StartsWith(it->first, source); ++it) {
    std::string k(target);
    k.append(it->first, source.size(), std::string::npos);
    copy.emplace(std::move(k), it->second);
  }
  for (auto& [k, v] : copy) m.insert_or_assign(k, std::move(v));
}

}  // namespace mengine::tree
