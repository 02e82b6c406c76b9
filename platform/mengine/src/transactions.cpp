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
  level_locals_.emplace_back();
  ++tlevel_;
}

void Interpreter::ExecTStart(Frame& f, const CmdArg* arg, std::size_t index) {
  if (arg && arg->expr) Eval(*arg->expr);  // TRANSACTIONID: evaluated, not kept
  const bool outermost = tlevel_ == 0;
  TStart();
  // The locals a restart gives back their present values: copies, since the
  // transaction may change them in place.
  SavedLocals& saved = level_locals_.back();
  auto keep = [&](const std::string& name) {
    Var* v = FindVar(name);
    saved.emplace_back(name, v ? std::make_shared<Var>(*v) : nullptr);
  };
  if (arg && arg->format == '*') {
    for (const auto& [name, var] : symtab_) keep(name);
  } else if (arg) {
    for (const auto& t : arg->targets) keep(t->name);
  }
  if (!outermost) return;
  // A TSTART without an argument starts a transaction that cannot restart.
  restart_point_ = {f.id, f.xline, f.routine, f.line, f.level, index, f.blocks.size(), arg && arg->format != 0};
  if (!restarting_) trestart_ = 0;
  restarting_ = false;
}

void Interpreter::TRestart() {
  if (tlevel_ == 0 || !restart_point_.restartable) Throw("COMMAND");
  // All levels restart from the outermost: every update is undone, and the
  // locals named by the TSTARTs get their values back once the frames are
  // unwound to the outermost TSTART (innermost level first, so that a name
  // named by several levels takes the outermost one's value).
  SavedLocals restore;
  for (auto level = level_locals_.rbegin(); level != level_locals_.rend(); ++level)
    for (auto& entry : *level) restore.push_back(std::move(entry));
  restarting_ = true;
  TRollback(false);
  pending_restore_ = std::move(restore);
  ++trestart_;
  throw RestartSignal{restart_point_.frame_id};
}

bool Interpreter::ResumeAtRestart(Frame& f, const RestartSignal& r) {
  if (r.frame_id != f.id) return false;
  RestartPoint& at = restart_point_;
  // The outermost frame runs one direct line per host call: a TSTART of an
  // earlier call cannot be run again.
  if (at.xline && f.xline != at.xline && f.xline) {
    restarting_ = false;
    trestart_ = 0;
    pending_restore_.clear();
    Throw("COMMAND");
  }
  ++epoch_;
  for (auto& [name, value] : pending_restore_) {
    if (value)
      VarFor(name) = *value;
    else if (Var* v = FindVar(name))
      v->Clear();
  }
  pending_restore_.clear();
  // Back to the TSTART, also after a GOTO since: its line, and the TRY
  // blocks that were open there.
  f.xline = at.xline;
  f.routine = at.routine;
  f.line = at.line;
  f.level = at.level;
  f.resume = at.command;
  if (f.blocks.size() > at.blocks) f.blocks.resize(at.blocks);
  return true;
}

void Interpreter::TCommit() {
  if (tlevel_ == 0) Throw("COMMAND");  // no transaction to commit
  --tlevel_;
  level_starts_.pop_back();
  level_locals_.pop_back();
  if (tlevel_ > 0) return;  // an inner level commits into the outer one
  trestart_ = 0;
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
    level_locals_.pop_back();
  } else {
    tlevel_ = 0;
    level_starts_.clear();
    level_locals_.clear();
  }
  if (tlevel_ == 0 && !restarting_) trestart_ = 0;
  UndoUpdates(host_, undone);
  if (TransactionJournal* journal = host_.UndoJournal(); journal && !undone.empty()) journal->Forget(job_, from);
}

void Interpreter::RollbackOpenTransaction() { TRollback(false); }

}  // namespace mengine
