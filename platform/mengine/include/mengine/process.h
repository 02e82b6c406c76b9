// One M process: its local variables, stack, $JOB, namespace, $TEST, $IO,
// routine buffer and error state, run against a Host.
//
//   mengine::MemoryHost host;                 // or the server's persistent host
//   mengine::Process p(host, {});
//   auto r = p.Execute("s x=1 w x");          // one command line
//   auto v = p.Evaluate("$ZVERSION");         // one expression
//   if (r.error) use(r.error_text);           // "<UNDEFINED>st+3^dorvik *x"
//
// A Process is used by one thread at a time; different processes may run in
// different threads against the same Host.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mengine/host.h"

namespace mengine {

// Limits a host may set per process. Exceeding one ends in an M error, never
// in a crash or a hang.
struct Limits {
  std::size_t max_string = 3641144;  // <MAXSTRING> beyond
  int max_stack = 256;               // DO/XECUTE/extrinsic frames: <FRAMESTACK>
  int max_nesting = 1000;            // expression depth (nesting and operator chains): <SYNTAX>
  // Levels of indirection inside one another: name indirection <SYNTAX>,
  // argument indirection <FRAMESTACK>.
  int max_indirection = 64;
  // Work one pattern match may spend on alternation (a unit per position
  // produced, a repetition as many units as the subject has bytes):
  // <COMPLEX PATTERN> beyond. Repeated alternation over a few hundred bytes
  // uses a few per cent of it, over 3,000 bytes about a third.
  std::uint64_t max_pattern_work = 10'000'000;
  // Budget of one Execute/Evaluate call (and of a whole job): commands and
  // loop iterations, and wall time. 0 = no limit. An exhausted budget raises
  // <INTERRUPT>, which no $ZTRAP can catch.
  std::uint64_t max_steps = 0;
  std::chrono::milliseconds max_time{0};
  // Native stack one call may use (deep expressions, recursion) before it
  // ends in <FRAMESTACK>; keep it well below the calling thread's stack.
  std::size_t max_native_stack = 2 * 1024 * 1024;
  // Raised by the host when the process holds more memory than it may (the
  // host counts it). The next command takes it down and raises <STORE>,
  // which $ZTRAP may catch. Null: the host sets no memory limit.
  std::atomic<bool>* memory_exceeded = nullptr;
};

struct ProcessOptions {
  std::string ns;                // empty: the host's first namespace
  OutputSink* output = nullptr;  // WRITE goes nowhere when null
  InputSource* input = nullptr;  // READ's principal device; null: <NOTOPEN>
  Limits limits;
  std::uint64_t job = 0;  // 0: ask the host for a new $JOB
};

// Outcome of Execute/Evaluate.
struct Result {
  bool error = false;
  std::string error_text;  // $ZE form: "<NAME>label+offset^routine detail"
  std::string value;       // value of an expression (Evaluate, or QUIT value)
  bool has_value = false;
  bool halted = false;  // the line ran HALT: the process has ended
};

class Interpreter;

class Process {
 public:
  Process(Host& host, ProcessOptions options);
  ~Process();  // releases the process's locks
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Runs one command line (commands only, no label).
  Result Execute(std::string_view line);

  // Evaluates one expression and answers its value.
  Result Evaluate(std::string_view expression);

  // Runs DO label+offset^routine(args) as a job does (used by hosts for jobs).
  Result RunEntry(const JobRequest& request);

  // Local variables seen by the code (P1, P2, ...). Unsubscripted names.
  void SetLocal(std::string_view name, std::string_view value);
  std::optional<std::string> GetLocal(std::string_view name) const;
  void KillLocal(std::string_view name);

  // Current namespace; SetNamespace answers false when it does not exist.
  std::string Namespace() const;
  bool SetNamespace(std::string_view ns);

  std::uint64_t Job() const;
  bool Halted() const;

  // Asks a running Execute (from another thread) to stop soon with an error;
  // also ends waits in LOCK, HANG and JOB.
  void RequestStop();

 private:
  std::unique_ptr<Interpreter> impl_;
};

// Undoes updates of globals described by `records` (oldest first), newest
// first: what a rollback does, and what a host does at start for the
// transactions of processes that died with them open.
void UndoUpdates(Host& host, const std::vector<UndoRecord>& records);

// Compiles routine lines into the form a RoutineStore keeps next to the
// source. `error` (when not null) receives the first syntax error, as
// "<SYNTAX>label+offset^name" text; a routine with syntax errors still
// compiles (the faulty lines raise <SYNTAX> when they run), as in Cache.
std::string CompileRoutine(std::string_view name, const std::vector<std::string>& lines, std::string* error = nullptr);

}  // namespace mengine
