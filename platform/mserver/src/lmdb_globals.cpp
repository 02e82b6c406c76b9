#include "lmdb_globals.h"

#include "mserver/global_store.h"

#include "mengine/keycodec.h"
#include "mserver/journal.h"
#include "process_activity.h"

namespace mserver {
namespace kc = mengine::keycodec;

namespace {

// Upper bound (exclusive) of a key's subtree.
std::string PastDescendants(std::string_view key) {
  std::string end(key);
  end.push_back(kc::kPastDescendants);
  return end;
}

bool IsDescendant(std::string_view key, std::string_view parent) {
  return key.size() > parent.size() && key.substr(0, parent.size()) == parent;
}

}  // namespace

void LmdbGlobalStore::Touched(std::string_view key, const std::optional<std::string_view>& value) {
  ProcessActivity& activity = ProcessActivity::Current();
  activity.Record(&store_);
  if (journal_ && activity.journaling) {
    if (value) {
      journal_->Set(activity.job, ns_, key, *value);
    } else {
      journal_->Kill(activity.job, ns_, key);
    }
  }
  const std::size_t n = kc::NameLength(key);
  const std::string_view name = n ? key.substr(0, n - 1) : key;
  if (name == "ROUTINE" || name == "rOBJ") routineGeneration_.fetch_add(1);
}

std::optional<std::string> LmdbGlobalStore::Get(std::string_view key) { return store_.Get(key); }

void LmdbGlobalStore::Set(std::string_view key, std::string_view value) {
  store_.Put(key, value);
  Touched(key, value);
}

void LmdbGlobalStore::Kill(std::string_view key) {
  if (store_.DeleteRange(key, PastDescendants(key)) > 0) Touched(key, std::nullopt);
}

int LmdbGlobalStore::Data(std::string_view key) {
  const bool value = store_.Get(key).has_value();
  auto next = store_.Next(key);
  const bool below = next && IsDescendant(next->first, key);
  return (value ? 1 : 0) + (below ? 10 : 0);
}

std::optional<std::string> LmdbGlobalStore::Order(std::string_view parent, std::string_view after, bool reverse) {
  std::string probe(parent);
  std::optional<KeyValue> found;
  if (!reverse) {
    // First key past `after`'s whole subtree (or past the parent itself).
    if (after.empty()) {
      found = store_.Next(parent);
    } else {
      probe.append(after);
      found = store_.Ceiling(PastDescendants(probe));
    }
  } else {
    // Last key before `after` (or before the end of the parent's subtree).
    if (after.empty()) {
      found = store_.Prev(PastDescendants(parent));
    } else {
      probe.append(after);
      found = store_.Prev(probe);
    }
  }
  if (!found || !IsDescendant(found->first, parent)) return std::nullopt;
  const std::size_t length = kc::SubscriptLength(found->first, parent.size());
  if (length == 0) return std::nullopt;
  return found->first.substr(parent.size(), length);
}

std::optional<std::string> LmdbGlobalStore::Query(std::string_view key, bool reverse) {
  const std::size_t nameLength = kc::NameLength(key);
  if (nameLength == 0) return std::nullopt;
  const std::string_view name = key.substr(0, nameLength);
  auto found = reverse ? store_.Prev(key) : store_.Next(key);
  // The unsubscripted node is never a $QUERY answer.
  if (!found || !IsDescendant(found->first, name)) return std::nullopt;
  return std::move(found->first);
}

void LmdbGlobalStore::Merge(std::string_view target, std::string_view source) {
  std::vector<WriteOp> ops;
  store_.Scan(source, PastDescendants(source), [&](std::string_view k, std::string_view v) {
    std::string key(target);
    key.append(k.substr(source.size()));
    ops.push_back(WriteOp{WriteOp::Kind::Put, std::move(key), std::string(v)});
    return true;
  });
  if (ops.empty()) return;
  store_.Write(ops);
  for (const WriteOp& op : ops) Touched(op.a, op.b);
}

std::string LmdbGlobalStore::Update(std::string_view key,
                                    const std::function<std::string(const std::optional<std::string>&)>& update) {
  std::string value = store_.Update(key, update);
  Touched(key, value);
  return value;
}

void LmdbGlobalStore::Write(const std::vector<WriteOp>& ops) {
  if (ops.empty()) return;
  store_.Write(ops);
  for (const WriteOp& op : ops) {
    if (op.kind == WriteOp::Kind::Put) {
      Touched(op.a, op.b);
    } else {
      Touched(op.a, std::nullopt);
    }
  }
}

}  // namespace mserver

namespace mserver {

std::unique_ptr<mengine::GlobalStore> MakeGlobalStore(ByteStore& store) {
  return std::make_unique<LmdbGlobalStore>(store);
}

}  // namespace mserver
