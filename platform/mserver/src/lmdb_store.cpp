// ByteStore over LMDB.
#include <lmdb.h>

#include <system_error>

#include "mserver/byte_store.h"

namespace mserver {
namespace {

void Check(int rc, const char* what) {
  if (rc != MDB_SUCCESS) throw StoreError(std::string(what) + ": " + mdb_strerror(rc));
}

MDB_val Val(std::string_view s) { return MDB_val{s.size(), const_cast<char*>(s.data())}; }

std::string_view View(const MDB_val& v) { return std::string_view(static_cast<const char*>(v.mv_data), v.mv_size); }

// A transaction that aborts unless committed.
class Txn {
 public:
  Txn(MDB_env* env, bool write) {
    Check(mdb_txn_begin(env, nullptr, write ? 0 : MDB_RDONLY, &txn_), "begin transaction");
  }
  ~Txn() {
    if (txn_) mdb_txn_abort(txn_);
  }
  Txn(const Txn&) = delete;
  Txn& operator=(const Txn&) = delete;
  MDB_txn* get() const { return txn_; }
  void Commit() {
    MDB_txn* t = txn_;
    txn_ = nullptr;
    Check(mdb_txn_commit(t), "commit");
  }

 private:
  MDB_txn* txn_ = nullptr;
};

class Cursor {
 public:
  Cursor(const Txn& txn, MDB_dbi dbi) { Check(mdb_cursor_open(txn.get(), dbi, &c_), "open cursor"); }
  ~Cursor() { mdb_cursor_close(c_); }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;
  // Positions with `op`; false when there is no such entry.
  bool Get(MDB_val& key, MDB_val& value, MDB_cursor_op op) {
    int rc = mdb_cursor_get(c_, &key, &value, op);
    if (rc == MDB_NOTFOUND) return false;
    Check(rc, "cursor");
    return true;
  }
  void Del() { Check(mdb_cursor_del(c_, 0), "delete"); }

 private:
  MDB_cursor* c_ = nullptr;
};

class LmdbStore final : public ByteStore {
 public:
  LmdbStore(const std::filesystem::path& folder, std::size_t mapSize) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw StoreError("cannot create " + folder.string() + ": " + ec.message());
    Check(mdb_env_create(&env_), "create environment");
    try {
      Check(mdb_env_set_mapsize(env_, mapSize), "set map size");
      Check(mdb_env_set_maxreaders(env_, 4096), "set readers");
      Check(mdb_env_open(env_, folder.c_str(), MDB_NOTLS | MDB_NOSYNC, 0664),
            ("open database in " + folder.string()).c_str());
      int dead = 0;
      mdb_reader_check(env_, &dead);  // slots left by a killed server
      Txn txn(env_, true);
      Check(mdb_dbi_open(txn.get(), nullptr, 0, &dbi_), "open database");
      txn.Commit();
    } catch (...) {
      mdb_env_close(env_);
      throw;
    }
  }
  ~LmdbStore() override {
    mdb_env_sync(env_, 1);
    mdb_env_close(env_);
  }

  std::size_t MaxKeySize() const override { return static_cast<std::size_t>(mdb_env_get_maxkeysize(env_)); }

  std::optional<std::string> Get(std::string_view key) const override {
    CheckKey(key);
    Txn txn(env_, false);
    MDB_val k = Val(key), v;
    int rc = mdb_get(txn.get(), dbi_, &k, &v);
    if (rc == MDB_NOTFOUND) return std::nullopt;
    Check(rc, "get");
    return std::string(View(v));
  }

  void Put(std::string_view key, std::string_view value) override {
    CheckKey(key);
    Txn txn(env_, true);
    MDB_val k = Val(key), v = Val(value);
    Check(mdb_put(txn.get(), dbi_, &k, &v, 0), "put");
    txn.Commit();
  }

  std::size_t DeleteRange(std::string_view from, std::string_view to) override {
    Txn txn(env_, true);
    std::size_t count = DeleteIn(txn, from, to);
    if (count == 0) return 0;
    txn.Commit();
    return count;
  }

  void Write(const std::vector<WriteOp>& ops) override {
    for (const WriteOp& op : ops) {
      if (op.kind == WriteOp::Kind::Put) CheckKey(op.a);
    }
    Txn txn(env_, true);
    for (const WriteOp& op : ops) {
      if (op.kind == WriteOp::Kind::Put) {
        MDB_val k = Val(op.a), v = Val(op.b);
        Check(mdb_put(txn.get(), dbi_, &k, &v, 0), "put");
      } else {
        DeleteIn(txn, op.a, op.b);
      }
    }
    txn.Commit();
  }

  std::string Update(std::string_view key,
                     const std::function<std::string(const std::optional<std::string>&)>& update) override {
    CheckKey(key);
    Txn txn(env_, true);
    MDB_val k = Val(key), v;
    std::optional<std::string> old;
    int rc = mdb_get(txn.get(), dbi_, &k, &v);
    if (rc == MDB_SUCCESS) {
      old = std::string(View(v));
    } else if (rc != MDB_NOTFOUND) {
      Check(rc, "get");
    }
    std::string value = update(old);
    MDB_val nv = Val(value);
    Check(mdb_put(txn.get(), dbi_, &k, &nv, 0), "put");
    txn.Commit();
    return value;
  }

 private:
  std::size_t DeleteIn(const Txn& txn, std::string_view from, std::string_view to) {
    std::size_t count = 0;
    Cursor c(txn, dbi_);
    MDB_val k = Val(from), v;
    bool found = from.empty() ? c.Get(k, v, MDB_FIRST) : c.Get(k, v, MDB_SET_RANGE);
    while (found && (to.empty() || View(k) < to)) {
      c.Del();
      ++count;
      // A deleted entry leaves the cursor on its successor, which MDB_NEXT
      // then answers without stepping over it.
      found = c.Get(k, v, MDB_NEXT);
    }
    return count;
  }

 public:
  std::optional<KeyValue> Ceiling(std::string_view key) const override {
    Txn txn(env_, false);
    Cursor c(txn, dbi_);
    MDB_val k = Val(key), v;
    bool found = key.empty() ? c.Get(k, v, MDB_FIRST) : c.Get(k, v, MDB_SET_RANGE);
    if (!found) return std::nullopt;
    return KeyValue{std::string(View(k)), std::string(View(v))};
  }

  std::optional<KeyValue> Next(std::string_view key) const override {
    Txn txn(env_, false);
    Cursor c(txn, dbi_);
    MDB_val k = Val(key), v;
    bool found = key.empty() ? c.Get(k, v, MDB_FIRST) : c.Get(k, v, MDB_SET_RANGE);
    if (found && !key.empty() && View(k) == key) found = c.Get(k, v, MDB_NEXT);
    if (!found) return std::nullopt;
    return KeyValue{std::string(View(k)), std::string(View(v))};
  }

  std::optional<KeyValue> Prev(std::string_view key) const override {
    Txn txn(env_, false);
    Cursor c(txn, dbi_);
    MDB_val k = Val(key), v;
    bool found;
    if (key.empty()) {
      found = c.Get(k, v, MDB_LAST);
    } else if (c.Get(k, v, MDB_SET_RANGE)) {
      found = c.Get(k, v, MDB_PREV);  // the entry before the first >= key
    } else {
      found = c.Get(k, v, MDB_LAST);  // every key is < key
    }
    if (!found) return std::nullopt;
    return KeyValue{std::string(View(k)), std::string(View(v))};
  }

  void Sync() override { Check(mdb_env_sync(env_, 1), "sync"); }

 protected:
  void ScanVisit(std::string_view from, std::string_view to, Visitor& visitor) const override {
    Txn txn(env_, false);
    Cursor c(txn, dbi_);
    MDB_val k = Val(from), v;
    bool found = from.empty() ? c.Get(k, v, MDB_FIRST) : c.Get(k, v, MDB_SET_RANGE);
    while (found && (to.empty() || View(k) < to)) {
      if (!visitor(View(k), View(v))) return;
      found = c.Get(k, v, MDB_NEXT);
    }
  }

 private:
  void CheckKey(std::string_view key) const {
    if (key.empty()) throw StoreError("empty key");
    if (key.size() > MaxKeySize()) {
      throw StoreError("key of " + std::to_string(key.size()) + " bytes exceeds the limit of " +
                       std::to_string(MaxKeySize()));
    }
  }

  MDB_env* env_ = nullptr;
  MDB_dbi dbi_ = 0;
};

}  // namespace

std::unique_ptr<ByteStore> ByteStore::Open(const std::filesystem::path& folder, std::size_t mapSize) {
  return std::make_unique<LmdbStore>(folder, mapSize);
}

}  // namespace mserver
