// The server's lock table: the engine's lock table with resource names made
// canonical first, so that the same global locked from "user" and "USER", or
// a % global locked from two namespaces (it lives in %SYS), is one resource.
#pragma once

#include "mengine/memory_host.h"

namespace mserver {

class ServerLockTable final : public mengine::LockTable {
 public:
  bool Acquire(std::uint64_t owner, std::span<const std::string> resources, std::chrono::milliseconds timeout,
               const std::function<bool()>& cancelled) override;
  void Release(std::uint64_t owner, std::string_view resource) override;
  void ReleaseAll(std::uint64_t owner) override { table_.ReleaseAll(owner); }
  bool HoldsAny(std::uint64_t owner) { return table_.HoldsAny(owner); }

  // Upper-case namespace; %SYS for globals whose name begins with '%'.
  static std::string Canonical(std::string_view resource);

 private:
  mengine::MemoryLockTable table_;
};

}  // namespace mserver
