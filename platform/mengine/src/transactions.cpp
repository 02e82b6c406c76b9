// Transactions: TSTART, TCOMMIT, TROLLBACK and the undo of global updates.
//
// As in Cache, updates inside a transaction go to the globals at once (other
// processes see them; LOCK gives isolation). Before each update of a global
// the process notes what it is about to change, in memory and, when the host
// keeps one, in its durable journal; a rollback undoes the notes newest
// first. Locals are not part of a transaction.
#include "interpreter.h"
#include "sorted_tree.h"

namespace mengine {
namespace {

// Every (key, value) at and under `key`.
std::vector<std::pair<std::string, std::string>> Subtree(GlobalStore& store, const std::string& key) {
  std::vector<std::pair<std::string, std::string>> out;
  if (auto v = store.Get(key)) out.emplace_back(std::string(), std::move(*v));
  std::string at = key;
  for (;;) {
    auto next = store.Query(at, false);
    if (!next || !tree::StartsWith(*next, key)) break;
    if (auto v = store.Get(*next)) out.emplace_back(next->substr(key.size()), std::move(*v));
    at = *next;
  }
  return out;
}

void Undo(Host& host, const UndoRecord& record) {
  GlobalStore* store = host.Globals(record.ns);
  if (!store) return;
  if (record.subtree) {
    store->Kill(record.key);
    for (const auto& [suffix, value] : record.before) store->Set(record.key + suffix, value);
    return;
  }
  if (!record.before.empty()) {
    store->Set(record.key, record.before.front().second);
    return;
  }
  // The node had no value: remove the value alone, keeping what lies under
  // it (the same as before the update, since later updates are undone first).
  auto under = Subtree(*store, record.key);
  store->Kill(record.key);
  for (const auto& [suffix, value] : under)
    if (!suffix.empty()) store->Set(record.key + suffix, value);
}

}  // namespace

void UndoUpdates(Host& host, const std::vector<UndoRecord>& records) {
  for (auto it = records.rbegin(); it != records.rend(); ++it) Undo(host, *it);
}

void Interpreter::RecordUndo(const std::string& ns, const std::string& key, bool subtree) {
  GlobalStore* store = host_.Globals(ns);
  if (!store) return;  // the update itself raises <NAMESPACE>
  UndoRecord record;
  record.ns = ns;
  record.key = key;
  record.subtree = subtree;
  if (subtree) {
    record.before = Subtree(*store, key);
  } else if (auto v = store->Get(key)) {
    record.before.emplace_back(std::string(), std::move(*v));
  }
  if (TransactionJournal* journal = host_.UndoJournal()) journal->Record(job_, undo_.size(), record);
  undo_.push_back(std::move(record));
}

void Interpreter::TStart() {
  level_starts_.push_back(undo_.size());
  ++tlevel_;
}

void Interpreter::TCommit() {
  if (tlevel_ == 0) Throw("COMMAND");  // no transaction to commit
  --tlevel_;
  level_starts_.pop_back();
  if (tlevel_ > 0) return;  // an inner level commits into the outer one
  if (TransactionJournal* journal = host_.UndoJournal(); journal && !undo_.empty()) journal->Forget(job_, 0);
  undo_.clear();
}

void Interpreter::TRollback(bool one_level) {
  if (tlevel_ == 0) return;  // nothing open: nothing to do
  std::size_t from = one_level ? level_starts_.back() : 0;
  std::vector<UndoRecord> undone(std::make_move_iterator(undo_.begin() + static_cast<std::ptrdiff_t>(from)),
                                 std::make_move_iterator(undo_.end()));
  undo_.resize(from);
  if (one_level) {
    --tlevel_;
    level_starts_.pop_back();
  } else {
    tlevel_ = 0;
    level_starts_.clear();
  }
  UndoUpdates(host_, undone);
  if (TransactionJournal* journal = host_.UndoJournal(); journal && !undone.empty()) journal->Forget(job_, from);
}

void Interpreter::RollbackOpenTransaction() { TRollback(false); }

}  // namespace mengine
