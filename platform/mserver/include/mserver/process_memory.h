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
// An account lives until its owner has ended and every byte charged to it
// is freed (a routine the process loaded into the shared cache, say).
#pragma once

#include <atomic>
#include <cstddef>

namespace mserver {

class ProcessMemory {
 public:
  // 0: counts, never limits.
  explicit ProcessMemory(std::size_t limit);
  ~ProcessMemory();
  ProcessMemory(const ProcessMemory&) = delete;
  ProcessMemory& operator=(const ProcessMemory&) = delete;

  // Bytes the process holds now (its own, without the allocator's overhead).
  std::size_t InUse() const;
  std::size_t limit() const;
  // For mengine::Limits::memory_exceeded; null when there is no limit.
  std::atomic<bool>* ExceededSignal();

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

}  // namespace mserver
