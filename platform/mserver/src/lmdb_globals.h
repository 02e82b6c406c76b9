// The globals of one namespace, kept in its ByteStore under the engine's
// encoded keys, so that $ORDER and $QUERY are cursor walks and KILL of a
// subtree is one range delete.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "mengine/host.h"
#include "mserver/byte_store.h"

namespace mserver {

class LmdbGlobalStore final : public mengine::GlobalStore {
 public:
  explicit LmdbGlobalStore(ByteStore& store) : store_(store) {}

  std::optional<std::string> Get(std::string_view key) override;
  void Set(std::string_view key, std::string_view value) override;
  void Kill(std::string_view key) override;
  int Data(std::string_view key) override;
  std::optional<std::string> Order(std::string_view parent, std::string_view after,
                                   bool reverse) override;
  std::optional<std::string> Query(std::string_view key, bool reverse) override;
  void Merge(std::string_view target, std::string_view source) override;
  std::string Update(std::string_view key,
                     const std::function<std::string(const std::optional<std::string>&)>& update)
      override;

  // Applies several updates atomically (used for routine saves).
  void Write(const std::vector<WriteOp>& ops);

  // Changes whenever ^ROUTINE or ^rOBJ is written, so that cached routines
  // are looked at again.
  std::uint64_t RoutineGeneration() const { return routineGeneration_.load(); }

 private:
  void Touched(std::string_view key);

  ByteStore& store_;
  std::atomic<std::uint64_t> routineGeneration_{1};
};

}  // namespace mserver
