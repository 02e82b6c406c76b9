// An ordered byte-key store in one LMDB environment (one folder).
//
// Each update is committed at once in its own short write transaction, so
// other server processes see it immediately (processes talk through globals
// while their lines still run); the environment is opened without a sync per
// commit and Sync() makes everything committed durable. The server calls it
// when a line that wrote something ends. A process killed at any moment
// leaves every committed update intact.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mserver {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using KeyValue = std::pair<std::string, std::string>;

// One update of a batch: Put(key=a, value=b) or DeleteRange(from=a, to=b).
struct WriteOp {
  enum class Kind { Put, DeleteRange } kind = Kind::Put;
  std::string a;
  std::string b;
};

class ByteStore {
 public:
  // Opens (creating when needed) the environment in `folder`.
  static std::unique_ptr<ByteStore> Open(const std::filesystem::path& folder,
                                         std::size_t mapSize = std::size_t{8} << 30);
  virtual ~ByteStore() = default;

  // Longest key the store accepts; longer keys throw StoreError.
  virtual std::size_t MaxKeySize() const = 0;

  virtual std::optional<std::string> Get(std::string_view key) const = 0;
  virtual void Put(std::string_view key, std::string_view value) = 0;
  // Deletes every key k with from <= k < to; an empty `to` means "to the end".
  // Returns how many keys were deleted.
  virtual std::size_t DeleteRange(std::string_view from, std::string_view to) = 0;
  // Applies all updates in one transaction: all of them or none.
  virtual void Write(const std::vector<WriteOp>& ops) = 0;
  // Atomic read-modify-write of one key: `update` gets the current value
  // (nothing when absent) and answers the new one, which is stored and returned.
  virtual std::string Update(std::string_view key,
                             const std::function<std::string(const std::optional<std::string>&)>& update) = 0;
  // First entry with key >= key (Ceiling) or > key (Next).
  virtual std::optional<KeyValue> Ceiling(std::string_view key) const = 0;
  virtual std::optional<KeyValue> Next(std::string_view key) const = 0;
  // Last entry with key < key; an empty key means the last entry of all.
  virtual std::optional<KeyValue> Prev(std::string_view key) const = 0;
  // Calls fn for every entry with from <= key < to, in key order, until fn
  // answers false. All reads see one snapshot.
  template <typename Fn>
  void Scan(std::string_view from, std::string_view to, Fn fn) const {
    ScanImpl(from, to, [&](std::string_view k, std::string_view v) { return fn(k, v); });
  }

  // Writes committed updates to disk.
  virtual void Sync() = 0;

 protected:
  class Visitor {
   public:
    virtual ~Visitor() = default;
    virtual bool operator()(std::string_view key, std::string_view value) = 0;
  };
  template <typename F>
  struct VisitorOf : Visitor {
    explicit VisitorOf(F& f) : f_(f) {}
    bool operator()(std::string_view k, std::string_view v) override { return f_(k, v); }
    F& f_;
  };
  template <typename F>
  void ScanImpl(std::string_view from, std::string_view to, F f) const {
    VisitorOf<F> v(f);
    ScanVisit(from, to, v);
  }
  virtual void ScanVisit(std::string_view from, std::string_view to, Visitor& visitor) const = 0;
};

}  // namespace mserver
