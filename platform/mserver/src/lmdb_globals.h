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

class Journal;

class LmdbGlobalStore final : public mengine::GlobalStore {
 public:
  // `journal` (may be null) receives the updates made with journaling on,
  // under the namespace name `ns`.
  explicit LmdbGlobalStore(ByteStore& store, Journal* journal = nullptr, std::string ns = {})
      : store_(store), journal_(journal), ns_(std::move(ns)) {}

  std::optional<std::string> Get(std::string_view key) override;
  void Set(std::string_view key, std::string_view value) override;
  void Kill(std::string_view key) override;
  int Data(std::string_view key) override;
  std::optional<std::string> Order(std::string_view parent, std::string_view after, bool reverse) override;
  std::optional<std::string> Query(std::string_view key, bool reverse) override;
  void Merge(std::string_view target, std::string_view source) override;
  std::string Update(std::string_view key,
                     const std::function<std::string(const std::optional<std::string>&)>& update) override;

  // Applies several updates atomically (used for routine saves).
  void Write(const std::vector<WriteOp>& ops);

  // Changes whenever ^ROUTINE or ^rOBJ is written, so that cached routines
  // are looked at again.
  std::uint64_t RoutineGeneration() const { return routineGeneration_.load(); }

 private:
  // Counts an update for the writing process, journals it when its
  // journaling is on (value: nothing for a KILL), and notes routine changes.
  void Touched(std::string_view key, const std::optional<std::string_view>& value);

  ByteStore& store_;
  Journal* journal_;
  std::string ns_;
  std::atomic<std::uint64_t> routineGeneration_{1};
};

}  // namespace mserver
