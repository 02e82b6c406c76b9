// The memory account of one M process: what the process's thread allocates
// through operator new is charged to its account while a Scope is active,
// and every byte is given back to the same account when it is freed, on
// whatever thread that happens. This file replaces the global operator new
// and delete of every program that links mservercore to do so.
//
// The limit is kept in two steps, so that neither the server nor the other
// processes suffer from one that takes too much:
// - above the limit the account raises the engine's `memory_exceeded` signal:
//   the next command raises <STORE>, which $ZTRAP may catch; each further
//   eighth of the limit taken raises it again;
// - above half as much again (a single command such as MERGE may take much
//   at once) operator new refuses with std::bad_alloc, which the engine
//   reports as <STORE> and which ends the line. A refusal leaves a reserve
//   so that the error can be reported and the stack unwound; it is never
//   raised while an exception unwinds the stack.
// Both return to their first level once the process holds less than its
// limit again.
//
// The processes of one server also share a ServerMemory, the limit of them
// all together. Above it, the process that asks for more gets the same
// signal (<STORE> at its next command, again after each further step it
// takes), and beyond a margin above it operator new refuses, whichever
// process asks: many processes each within their own limit cannot take the
// machine's memory, and the server itself (its threads outside any process)
// never meets the refusal.
//
// An account lives until its owner has ended and every byte charged to it
// is freed (a routine the process loaded into the shared cache, say); so
// does the ServerMemory it is charged to.
#pragma once

#include <atomic>
#include <cstddef>

namespace mserver {

// The memory all processes of one server hold together.
class ServerMemory {
 public:
  // 0: counts, never limits.
  explicit ServerMemory(std::size_t limit);
  ~ServerMemory();
  ServerMemory(const ServerMemory&) = delete;
  ServerMemory& operator=(const ServerMemory&) = delete;

  std::size_t InUse() const;
  std::size_t limit() const;

  struct Pool;

 private:
  friend class ProcessMemory;
  Pool* pool_;
};

class ProcessMemory {
 public:
  // `limit` 0: counts, never limits. `server`: the server-wide account the
  // process is charged to as well (none when null).
  explicit ProcessMemory(std::size_t limit, ServerMemory* server = nullptr);
  ~ProcessMemory();
  ProcessMemory(const ProcessMemory&) = delete;
  ProcessMemory& operator=(const ProcessMemory&) = delete;

  // Bytes the process holds now (its own, without the allocator's overhead).
  std::size_t InUse() const;
  std::size_t limit() const;
  // For mengine::Limits::memory_exceeded; null when neither the process
  // nor its server has a limit.
  std::atomic<bool>* ExceededSignal();
  // Takes back a signal not yet raised when neither the process nor its
  // server is over its limit any more (others gave memory back since): a
  // line that starts with room to spare does not fail for an earlier want.
  void DropStaleSignal();

  // Charges what this thread allocates to `memory` until the scope ends.
  class Scope {
   public:
    explicit Scope(ProcessMemory& memory);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    void* previous_;
  };

  struct Account;

 private:
  Account* account_;
};

// A process's limit when none is given: generous for any installation, and
// far from what would endanger the machine.
inline constexpr std::size_t kDefaultProcessMemory = std::size_t{256} << 20;

// The server's limit when none is given: a quarter of the machine's memory
// (of the control group's limit when that is lower), at most
// kMaxDefaultServerMemory: four processes at their own limit, more than a
// test server with a few installers needs, and far from what would endanger
// the machine.
inline constexpr std::size_t kMaxDefaultServerMemory = std::size_t{1} << 30;
std::size_t DefaultServerMemory();

}  // namespace mserver
