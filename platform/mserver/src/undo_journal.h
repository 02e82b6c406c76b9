// Undo records of open transactions, kept in the %SYS database so that a
// server killed during a transaction rolls it back when it starts again.
// Records live under keys that start with 0x00, which no global key can (a
// global key starts with its name), ordered by job and sequence number.
// Each is committed before the update it describes.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "mengine/host.h"
#include "mserver/byte_store.h"

namespace mserver {

class LmdbUndoJournal final : public mengine::TransactionJournal {
 public:
  explicit LmdbUndoJournal(ByteStore& store) : store_(store) {}

  void Record(std::uint64_t job, std::uint64_t sequence, const mengine::UndoRecord& record) override;
  void Forget(std::uint64_t job, std::uint64_t from) override;

  // Every record kept, by job, oldest first (at start: those of processes
  // that died with a transaction open).
  std::map<std::uint64_t, std::vector<mengine::UndoRecord>> Pending() const;

 private:
  ByteStore& store_;
};

}  // namespace mserver
