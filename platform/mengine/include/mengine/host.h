// What the M engine needs from the program that embeds it. The engine itself
// knows nothing of files, sockets or databases: storage, locks, background
// jobs, namespaces, the clock and the few system hooks all come through the
// interfaces below. memory_host.h has in-memory implementations of each.
//
// Every interface may be called from several engine processes (threads) at
// once; implementations must be thread-safe.
//
// Text is bytes throughout (no code page conversion anywhere in the engine).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mengine {

// Globals of one namespace. Keys are made by keycodec.h (name without the
// leading '^', then the subscripts); a stored key always has a value (nodes
// that only have descendants are not stored). Values are byte strings.
class GlobalStore {
 public:
  virtual ~GlobalStore() = default;

  // Value of the node, or nothing when the node has no value.
  virtual std::optional<std::string> Get(std::string_view key) = 0;

  virtual void Set(std::string_view key, std::string_view value) = 0;

  // Removes the node and all its descendants.
  virtual void Kill(std::string_view key) = 0;

  // M $DATA: 0 nothing, 1 value only, 10 descendants only, 11 both.
  virtual int Data(std::string_view key) = 0;

  // Next (reverse: previous) child of `parent` in collation order after the
  // child whose encoded subscript is `after`; `after` empty means start from
  // the first (reverse: last) child. Answers the encoded subscript of that
  // child (as keycodec::SubscriptLength measures it), or nothing at the end.
  // A child counts when it has a value or descendants.
  virtual std::optional<std::string> Order(std::string_view parent, std::string_view after, bool reverse) = 0;

  // Next (reverse: previous) key in collation order that has a value, of the
  // same variable as `key` (same name part), excluding `key` itself; nothing
  // at the end. A bare name key (no subscript) starts a forward walk at the
  // first subscripted node.
  virtual std::optional<std::string> Query(std::string_view key, bool reverse) = 0;

  // Copies the subtree at `source` (its value and all descendants) under
  // `target`, keeping what `target` already has where nothing is copied over.
  // The engine never passes overlapping trees.
  virtual void Merge(std::string_view target, std::string_view source) = 0;

  // Atomic read-modify-write of one node ($INCREMENT): `update` gets the
  // current value (nothing when undefined) and returns the new one.
  virtual std::string Update(std::string_view key,
                             const std::function<std::string(const std::optional<std::string>&)>& update) = 0;
};

// One stored routine. The store keeps the source lines and the compiled form
// that the engine produced (an opaque byte string, see CompileRoutine in
// process.h) and returns both unchanged.
struct RoutineImage {
  std::string name;
  std::vector<std::string> source;  // the routine's lines, first line first
  std::string compiled;             // engine-made, stored and returned as is
  std::uint64_t version = 0;        // changes whenever the routine is saved again
  // False once the routine's source text has been removed: it still runs
  // from `source`, but $TEXT finds no line of it.
  bool has_source = true;

  // Slot for the engine's parsed form of this image. A store that returns the
  // same image object while the routine is unchanged spares the engine from
  // parsing it again; a new object for each load is correct but slower.
  mutable std::mutex engine_cache_mutex;
  mutable std::shared_ptr<const void> engine_cache;
};

// Routines of one namespace.
class RoutineStore {
 public:
  virtual ~RoutineStore() = default;

  // The routine, or nullptr when there is none of that name.
  virtual std::shared_ptr<const RoutineImage> Load(std::string_view name) = 0;

  // Stores (or replaces) a routine; the store assigns a new version.
  virtual void Save(std::string_view name, std::vector<std::string> source, std::string compiled) = 0;

  // Removes a routine; false when there was none.
  virtual bool Remove(std::string_view name) = 0;

  // Names of all routines, in byte order.
  virtual std::vector<std::string> List() = 0;
};

// The lock table shared by all processes. A resource is a string made by
// LockResource(): the namespace and a keycodec key. Two resources conflict
// when one is a prefix of the other (a lock on ^A(1) conflicts with ^A and with
// ^A(1,2) held by another owner). Locks are counted per owner (incremental
// LOCK +), and an owner never conflicts with itself.
class LockTable {
 public:
  virtual ~LockTable() = default;

  // Takes all `resources` for `owner` at once, or none. timeout < 0 waits
  // without limit. While waiting, `cancelled` is polled (at least every 100 ms)
  // and ends the wait with false when it answers true.
  virtual bool Acquire(std::uint64_t owner, std::span<const std::string> resources, std::chrono::milliseconds timeout,
                       const std::function<bool()>& cancelled) = 0;

  // Drops one count of `resource` held by `owner` (no effect when not held).
  virtual void Release(std::uint64_t owner, std::string_view resource) = 0;

  // Drops every lock of `owner` (argumentless LOCK, end of process).
  virtual void ReleaseAll(std::uint64_t owner) = 0;
};

// Lock resource name: namespace, 0x00, then the keycodec key; globals carry
// their '^' in the name part, local names do not.
std::string LockResource(std::string_view ns, std::string_view key);

// A background job to start: DO label+offset^routine(args) in namespace ns.
struct JobRequest {
  std::string ns;
  std::string label;  // empty: the routine's first line
  int offset = 0;
  std::string routine;
  std::vector<std::string> args;
  std::uint64_t parent_job = 0;
};

// Arguments of a $ZU call, in order, as strings, with who calls.
struct ZuCall {
  std::string_view ns;
  std::uint64_t job = 0;
  std::span<const std::string> args;
};

struct ZuResult {
  bool ok = false;  // false: the engine raises <FUNCTION>
  std::string value;
};

// What one update of a global inside a transaction is about to change, so
// that it can be undone: the node `key` of namespace `ns`, either its value
// only (SET, $INCREMENT) or the node with everything under it (KILL, MERGE).
// `before` holds the values as they were: (key suffix, value) pairs, the
// empty suffix being the node itself; a value-only record has at most that
// one pair.
struct UndoRecord {
  std::string ns;
  std::string key;
  bool subtree = false;
  std::vector<std::pair<std::string, std::string>> before;
};

// Durable keeping of the undo records of open transactions, for a host whose
// globals outlive its processes: a process that dies with a transaction open
// (the server killed) is rolled back by whoever starts next, with
// UndoUpdates (process.h) over the records kept.
class TransactionJournal {
 public:
  virtual ~TransactionJournal() = default;

  // Keeps record number `sequence` (0, 1, ... within the job's open
  // transaction); returns once it is durable, before the update is made.
  virtual void Record(std::uint64_t job, std::uint64_t sequence, const UndoRecord& record) = 0;

  // Drops the job's records numbered `from` and later (0: all of them),
  // after a commit or a rollback.
  virtual void Forget(std::uint64_t job, std::uint64_t from) = 0;
};

// Everything the engine asks of its embedder.
class Host {
 public:
  virtual ~Host() = default;

  // Namespace names, in the order the host lists them (for $ZU(90,...)).
  virtual std::vector<std::string> Namespaces() = 0;

  // Storage of a namespace; nullptr when the namespace does not exist.
  // Routines and globals whose name starts with '%' are taken from "%SYS"
  // by the engine, whatever the current namespace.
  virtual GlobalStore* Globals(std::string_view ns) = 0;
  virtual RoutineStore* Routines(std::string_view ns) = 0;

  virtual LockTable& Locks() = 0;

  // Where undo records of open transactions are kept durably; null (the
  // default) keeps them in the process only, enough when globals end with
  // the processes (an in-memory host).
  virtual TransactionJournal* UndoJournal() { return nullptr; }

  // Starts a job (a new engine process in its own thread or server process).
  // Answers true once the job has started, false when it could not start
  // within `timeout` (negative: no limit).
  virtual bool StartJob(const JobRequest& request, std::chrono::milliseconds timeout) = 0;

  // A fresh, never reused process number ($JOB), and the job's lock owner id.
  virtual std::uint64_t NewJobId() = 0;

  // $ZVERSION.
  virtual std::string ZVersion() { return "Cache for Velmora M engine 1.0 (x86-64) " __DATE__; }

  // $ZU(...). The default answers 90,0 (number of namespaces) and 90,2,0,n
  // (name of namespace n, from 1) from Namespaces(), and fails otherwise.
  virtual ZuResult ZU(const ZuCall& call);

  // Current time and the local offset from UTC in seconds ($HOROLOG is local
  // time, $ZTIMESTAMP is UTC).
  virtual std::chrono::system_clock::time_point Now() { return std::chrono::system_clock::now(); }
  virtual int UtcOffsetSeconds(std::chrono::system_clock::time_point when);
};

// Where WRITE output of one process goes.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void Write(std::string_view bytes) = 0;
};

// Where READ takes its input: the principal device of a process that has
// one (standard input of a one-off run). A process without one answers READ
// with <NOTOPEN>.
class InputSource {
 public:
  virtual ~InputSource() = default;

  struct Input {
    std::string text;        // the bytes read, without the line end
    bool timed_out = false;  // the time-out passed first
    bool at_end = false;     // the input ended first
  };

  // Reads up to `max` bytes, stopping after a line end (LF, with or without a
  // CR before it; not part of `text`) when `line` is true, at the end of the
  // input, or when `timeout` has passed (negative: no time-out). `cancelled`
  // is polled (at least every 100 ms) and ends the wait like a time-out.
  virtual Input Read(std::size_t max, bool line, std::chrono::milliseconds timeout,
                     const std::function<bool()>& cancelled) = 0;
};

}  // namespace mengine
