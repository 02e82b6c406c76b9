#include "server_locks.h"

#include <vector>

#include "mserver/server_host.h"

namespace mserver {

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

bool ServerLockTable::Acquire(std::uint64_t owner, std::span<const std::string> resources,
                              std::chrono::milliseconds timeout, const std::function<bool()>& cancelled) {
  std::vector<std::string> canonical;
  canonical.reserve(resources.size());
  for (const std::string& r : resources) canonical.push_back(Canonical(r));
  return table_.Acquire(owner, canonical, timeout, cancelled);
}

void ServerLockTable::Release(std::uint64_t owner, std::string_view resource) {
  table_.Release(owner, Canonical(resource));
}

}  // namespace mserver
