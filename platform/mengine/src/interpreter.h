// The state of one M process and the tree-walking evaluator over it.
// Split by job: interpreter.cpp (frames, control flow, errors, the public
// Process API), commands.cpp (the commands), eval.cpp (expressions and
// variable access), functions.cpp (intrinsic functions and special
// variables).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "ast.h"
#include "depth.h"
#include "mengine/host.h"
#include "mengine/process.h"
#include "routine_buffer.h"
#include "sorted_tree.h"

namespace mengine {

struct Var {
  std::optional<Value> root;  // the unsubscripted value
  tree::Map<Value> nodes;     // subscripted nodes; keys "\0" + encoded subscripts
  bool Empty() const { return !root && nodes.empty(); }
  void Clear() {
    root.reset();
    nodes.clear();
  }
};
using VarPtr = std::shared_ptr<Var>;

// A variable reference with its subscripts evaluated.
struct Ref {
  bool global = false;
  std::string name;  // without '^'
  std::string ns;    // globals: the namespace that holds them
  std::vector<Value> subs;
  std::uint32_t sym = 0;  // locals: interned name, 0 when unknown
  // A naked reference (^(subs)) not yet expanded: SET and MERGE targets
  // take the naked indicator as it is when they are stored (ExpandNaked).
  bool naked = false;
};

// What resolving a global reference does to the naked indicator: a
// reference sets it (Note); $NAME and LOCK name a node without referring to
// it (Keep); the targets of SET and MERGE set it when they are stored, and a
// naked target is expanded then too (Defer).
enum class Naked { Note, Keep, Defer };

struct Frame {
  std::uint64_t id = 0;                    // told apart from frames before it (TRESTART)
  std::shared_ptr<const Routine> routine;  // null in direct mode
  std::shared_ptr<const Line> xline;       // XECUTE/direct line being run
  int line = 0;
  int level = 0;
  bool extrinsic = false;
  bool xecute = false;
  bool restore_test = false;
  bool saved_test = false;
  std::string ztrap;
  bool ztrap_here = false;
  std::vector<std::pair<std::string, VarPtr>> saved;  // NEW: previous bindings
  bool exclusive = false;                             // exclusive NEW done here
  std::vector<std::string> keep;                      // its kept names
  std::size_t command = 0;                            // 1-based number of the command running
  bool trap_code = false;                             // runs $ETRAP: its errors go up a level
  // NEW $ETRAP and NEW $ESTACK made here: the values to restore.
  std::optional<std::string> saved_etrap;
  std::optional<int> saved_estack_base;
  // Open TRY and CATCH blocks of this frame, innermost last.
  struct OpenBlock {
    CommandPlace try_place;  // its TRY command
    bool in_xline = false;   // in the frame's XECUTE or direct line
    bool in_catch = false;   // the error came: its CATCH block runs
    int for_depth = 0;       // FOR loops running when it opened
  };
  std::vector<OpenBlock> blocks;
  std::size_t resume = 0;  // the command where the next line starts (a jump into a line)
};

// A caught error, as the catch variable of a CATCH block shows it
// (%Exception.SystemException: Name, Code, Location, Data).
struct ExceptionValue {
  std::string name;      // "<UNDEFINED>"
  std::string code;      // the dialect's error number, "" when not known
  std::string location;  // label+offset^routine
  std::string data;      // the detail: the variable, routine...
};

// One level of $STACK as it was when an error happened, kept while $ECODE
// is not empty so that the trap can look at levels that are gone.
struct StackEntry {
  std::string kind;   // "DO", "XECUTE", "$$"; "" for level 0
  std::string place;  // label+offset^routine +command
  std::string mcode;  // the line's source text
  std::string ecode;  // the error codes that happened at this level
};

// Variable names are short: FNV-1a over their bytes is cheaper than the
// library's general string hash.
struct NameHash {
  std::size_t operator()(const std::string& s) const noexcept {
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ULL;
    return static_cast<std::size_t>(h);
  }
};

// How a line ends: on to the next line, QUIT, GOTO, or a jump to f.line at
// command f.resume (out of a TRY or CATCH block that ends on another line).
enum class Flow { Next, Quit, Goto, Jump };

struct HaltSignal {};

// TRESTART: unwinds to the frame that ran the outermost TSTART, which runs
// it again.
struct RestartSignal {
  std::uint64_t frame_id = 0;
};

// Arguments parsed from an argument-indirection text, iterable. While it
// lives it counts one level of indirection, so self-referring indirection
// ends in <FRAMESTACK> instead of exhausting the native stack.
class IndirectList {
 public:
  IndirectList(std::shared_ptr<const std::vector<CmdArg>> args, int& depth, int max)
      : args_(std::move(args)), guard_(depth, max, "FRAMESTACK") {}
  std::vector<CmdArg>::const_iterator begin() const { return args_->begin(); }
  std::vector<CmdArg>::const_iterator end() const { return args_->end(); }
  const CmdArg& front() const { return args_->front(); }

 private:
  std::shared_ptr<const std::vector<CmdArg>> args_;
  DepthGuard guard_;
};

class Interpreter {
 public:
  Interpreter(Host& host, ProcessOptions options);
  ~Interpreter();

  Result Execute(std::string_view line);
  Result Evaluate(std::string_view expression);
  Result RunEntry(const JobRequest& request);

  void SetLocal(std::string_view name, std::string_view value);
  std::optional<std::string> GetLocal(std::string_view name) const;
  void KillLocal(std::string_view name);
  std::string Namespace() const { return ns_; }
  bool SetNamespace(std::string_view ns);
  std::uint64_t Job() const { return job_; }
  bool Halted() const { return halted_; }
  void RequestStop() { stop_ = true; }

  // ---- used across the implementation files ----

  // Calls from the host (interpreter.cpp): each starts with a fresh budget
  // and ends through Protected.
  void BeginCall();
  template <typename Body>
  Result Protected(Body&& body);
  static Result HaltedResult();
  // HALT, or the end of a job: rolls back an open transaction, drops locks.
  void EndProcess();

  // Transactions (transactions.cpp).
  void ExecTStart(Frame& f, const CmdArg* arg, std::size_t index);
  [[noreturn]] void TRestart();
  // RunFrame: a restart that comes back to this frame goes on at its TSTART.
  bool ResumeAtRestart(Frame& f, const RestartSignal& r);
  void TStart();
  void TCommit();
  void TRollback(bool oneLevel);
  void RollbackOpenTransaction();
  // Notes what an update of a global is about to change, while a
  // transaction is open: the node's value only, or the node and everything
  // under it (KILL, MERGE).
  void BeforeUpdate(const Ref& r, const std::string& key, bool subtree) {
    if (tlevel_ > 0) RecordUndo(r.ns, key, subtree);
  }
  void RecordUndo(const std::string& ns, const std::string& key, bool subtree);

  // Frames and control flow (interpreter.cpp).
  void RunFrame(Frame& f);
  Flow ExecLine(Frame& f, const Line& line, std::size_t from);
  std::optional<Value> Call(Frame& caller, const EntryRef& entry, bool extrinsic);
  struct Target {
    std::shared_ptr<const Routine> routine;
    int line = 0;
  };
  Target ResolveEntry(const Frame& f, const EntryRef& entry);
  std::shared_ptr<const Routine> LoadRoutine(const std::string& name);
  std::shared_ptr<const Line> ParseXecute(const std::string& text);
  // Counts one step of the budget; the limits are looked at only every 256
  // steps and when the step limit is reached, the memory limit at every step.
  void Step() {
    if (++steps_ >= next_budget_check_ ||
        (limits_.memory_exceeded && limits_.memory_exceeded->load(std::memory_order_relaxed)))
      CheckBudget();
  }
  void CheckBudget();
  void CheckStack() const {
    char probe = 0;
    auto here = reinterpret_cast<std::uintptr_t>(&probe);
    if (stack_base_ > here && stack_base_ - here > limits_.max_native_stack) Throw("FRAMESTACK");
  }
  void MarkStackBase();
  bool Cancelled();
  Frame& Top() { return *frames_.back(); }
  std::string Location(const Frame& f) const;
  void SetError(MError& e);
  std::string TrapOf(const Frame& f) const;
  // Standard error processing (errors.cpp): the $ECODE form of an error, the
  // $STACK levels as they are now, running $ETRAP at the level of an error.
  static std::string ECodeOf(const MError& e);
  std::size_t StackLevel() const;  // $STACK
  const Frame& FrameAtLevel(std::size_t level) const;
  StackEntry LevelInfo(std::size_t level) const;
  // Notes an error's code at the current level (and in $ECODE unless it is
  // there already) with the stack as it is.
  void RecordError(const std::string& code, bool add_to_ecode);
  void RunETrap(Frame& f);
  void SetECode(const std::string& value);
  Value StackFunction(const Expr& e);  // $STACK(level[,form])
  // TRY/CATCH/THROW (try_catch.cpp). Block runs TRY, CATCH, } and an
  // argumentless QUIT inside a block: the index of the next command of this
  // line, or nullopt when execution goes on at another line (f.line and
  // f.resume are set).
  std::optional<std::size_t> Block(Frame& f, const Command& c, std::size_t index);
  std::optional<std::size_t> LeaveBlock(Frame& f);
  std::optional<std::size_t> GoOnAfter(Frame& f, CommandPlace place);
  const Command& CommandAt(const Frame& f, bool in_xline, CommandPlace place) const;
  // An error in frame f inside a TRY block: its CATCH block takes it.
  bool CatchError(Frame& f, const MError& e);
  // GOTO leaves the blocks that do not hold the line it goes to.
  void LeaveBlocksForGoto(Frame& f);
  bool TryOpenOutside(const Frame& f) const;
  // The innermost TRY block (not yet in its CATCH) was opened in the FOR
  // loop running now.
  bool TryOpenedInLoop(const Frame& f) const;
  void ExecThrow(const CmdArg& a);
  Value EvalProperty(const Expr& e);
  // Called by each host call: a $ECODE left by an earlier call does not
  // outlive it, as $ZTRAP does not.
  void ClearErrorState() {
    ecode_.clear();
    error_stack_.clear();
  }

  // Commands (commands.cpp).
  Flow ExecCommand(Frame& f, const Line& line, std::size_t index);
  Flow ExecFor(Frame& f, const Line& line, std::size_t index, const Command& c);
  Flow LoopBodyWithTry(Frame& f, const Line& line, std::size_t from);
  void ExecSet(const CmdArg& arg);
  void DoIndirect(Frame& f, const Expr& text);
  void ExecKill(Frame& f, const CmdArg& arg);
  void ExecNew(Frame& f, const CmdArg& arg);
  void ExecLock(const Command& c);
  void ExecWrite(const CmdArg& arg);
  void ExecRead(const CmdArg& arg);
  void ExecZWrite(const CmdArg* arg);
  void ExecJob(Frame& f, const CmdArg& arg);
  void ExecMerge(const CmdArg& arg);
  void ExecRoutineCommand(const Command& c);
  void Hang(const Number& seconds);
  void Write(std::string_view text);
  void NewName(Frame& f, const std::string& name);
  void NewSpecial(Frame& f, const Expr& e);
  void Xecute(Frame& f, const CmdArg& a);
  // The name held by an indirection text (@x where x is "A"): a plain local.
  std::string IndirectName(const Expr& text);
  // Names kept by an exclusive NEW or KILL, indirection followed.
  std::vector<std::string> KeptNames(const CmdArg& arg);
  IndirectList IndirectArgs(Cmd kind, const Expr& e);
  // An expression argument's value, following argument indirection.
  Value ArgValue(Cmd kind, const CmdArg& a);
  // IF argument(s): each sets $TEST as it is evaluated; false at the first
  // false one.
  bool AllTrue(const CmdArg& a);
  std::string LockKey(const Ref& r) const;
  int BufferLine(const EntryRef& e);
  std::string ZWriteValue(const Value& v) const;
  void CollectTree(const Ref& r, std::vector<std::pair<std::string, Value>>& out);

  // Expressions and variables (eval.cpp).
  Value Eval(const Expr& e);
  Value EvalSubscripted(const Expr& e);
  Value EvalReference(const Expr& e);
  Value EvalIndirect(const Expr& e);
  Value EvalExtrinsic(const Expr& e);
  Value EvalUnary(const Expr& e);
  Value EvalPattern(const Expr& e);
  // A literal's or a plain local's value in place, anything else evaluated
  // into scratch. The common cases are inline; the rest is in eval.cpp.
  const Value& EvalRef(const Expr& e, Value& scratch) {
    if (e.kind == ExprKind::Literal) return e.literal;
    if (const Value* v = PlainLocal(e)) return *v;
    return EvalRefSlow(e, scratch);
  }
  const Value& EvalRefSlow(const Expr& e, Value& scratch);
  // The number of an expression, reading a variable in place.
  Number EvalNum(const Expr& e) {
    if (e.kind == ExprKind::Literal) return e.literal.num();
    if (const Value* v = PlainLocal(e)) return v->num();
    return EvalNumSlow(e);
  }
  Number EvalNumSlow(const Expr& e);
  // The value of an unsubscripted local that is defined, else null.
  const Value* PlainLocal(const Expr& e) {
    if (e.kind != ExprKind::Local || !e.args.empty()) return nullptr;
    Var* v = FastVar(e.sym, e.name);
    return v && v->root ? &*v->root : nullptr;
  }
  // True when evaluating e cannot change a variable (no extrinsic,
  // indirection, $INCREMENT...); the answer is kept in the node.
  static bool Pure(const Expr& e) {
    std::int8_t known = e.pure.load(std::memory_order_relaxed);
    return known >= 0 ? known != 0 : PureSlow(e);
  }
  static bool PureSlow(const Expr& e);
  bool AppendInPlace(const CmdArg& arg);
  Value EvalBinary(const Expr& e);
  bool IsReference(const Expr& e) const {
    return e.kind == ExprKind::Local || e.kind == ExprKind::Global || e.kind == ExprKind::Indirect;
  }
  // Evaluates a reference's namespace, indirection and subscripts, left to
  // right; references inside the subscripts move the naked indicator as they
  // are evaluated, the reference itself as `naked` says.
  Ref Resolve(const Expr& e, Naked naked = Naked::Note);
  // Expands a deferred naked reference against the naked indicator as it is
  // now (<NAKED> when it is undefined).
  void ExpandNaked(Ref& r);
  // Makes a global reference the naked indicator: its name, namespace and
  // all subscripts but the last; an unsubscripted one leaves it undefined.
  void NoteNaked(const Ref& r) {
    naked_valid_ = !r.subs.empty();
    // Mostly the same global as before: comparing is cheaper than copying.
    if (naked_name_ != r.name) naked_name_ = r.name;
    if (naked_ns_ != r.ns) naked_ns_ = r.ns;
    naked_subs_ = r.subs;
  }
  // SET: the places of the left side are found before the right side is
  // evaluated, then assigned.
  struct SetPlace {
    const Expr* target = nullptr;
    Ref ref;                // globals, indirection, the variable of $PIECE/$EXTRACT/$LIST
    std::string local_key;  // subscripted locals
    std::string delimiter;  // $PIECE
    std::int64_t from = 1, to = 1;
  };
  SetPlace PrepareSet(const Expr& t);
  void AssignSet(SetPlace& place, Value v);
  std::string Key(const Ref& r, bool check_empty = true) const;
  // Key of a subscripted local straight from its expression (no Ref built).
  std::string LocalKey(const Expr& e);
  static void AppendSubscript(std::string& key, const Value& v);
  GlobalStore& Store(const Ref& r);
  std::optional<Value> Get(const Ref& r);
  // A local's value in place (null when undefined); globals and subscripted
  // locals are copied into scratch. Valid until the next change of a variable.
  const Value* Peek(const Ref& r, Value& scratch) {
    if (r.global || !r.subs.empty()) return PeekSlow(r, scratch);
    Var* v = FastVar(r.sym, r.name);
    return v && v->root ? &*v->root : nullptr;
  }
  const Value* PeekSlow(const Ref& r, Value& scratch);
  void Set(const Ref& r, Value v);
  void Kill(const Ref& r);
  int Data(const Ref& r);
  std::optional<Value> Order(const Ref& r, bool reverse);
  std::optional<std::string> QueryRef(const Ref& r, bool reverse);
  Var* FindVar(const std::string& name) const;
  // FindVar through a per-process table indexed by interned name, valid
  // while no binding changes (epoch_). Slot 0 (no interned name) keeps
  // epoch 0, which epoch_ never is, so it always takes the slow path.
  Var* FastVar(std::uint32_t sym, const std::string& name) {
    if (sym < fast_.size() && fast_[sym].epoch == epoch_) return fast_[sym].var;
    return FastVarSlow(sym, name);
  }
  Var* FastVarSlow(std::uint32_t sym, const std::string& name);
  Var& VarFor(const std::string& name);
  std::string FormatName(const Ref& r) const;
  std::string FormatKey(bool global, const std::string& name, std::string_view key) const;
  [[noreturn]] void Undefined(const Ref& r) const;
  void CheckLength(std::size_t n) const {
    if (n > limits_.max_string) Throw("MAXSTRING");
  }
  static int Collate(const Value& a, const Value& b);

  // Functions and special variables (functions.cpp).
  Value CallFunction(const Expr& e);
  Value Special(const Expr& e);
  void SetSpecial(const Expr& e, const Value& v);
  Value Text(const Frame& f, const EntryRef& entry);
  std::string Horolog(bool utc) const;

  // State.
  Host& host_;
  Limits limits_;
  OutputSink* output_;
  InputSource* input_;
  std::string ns_;
  std::uint64_t job_;
  std::uint64_t parent_job_ = 0;
  std::uint64_t last_child_ = 0;
  std::unordered_map<std::string, VarPtr, NameHash> symtab_;
  std::uint64_t epoch_ = 1;  // bumped whenever a name is bound, rebound or unbound
  struct FastSlot {
    Var* var = nullptr;
    std::uint64_t epoch = 0;
  };
  std::vector<FastSlot> fast_;
  std::vector<std::unique_ptr<Frame>> frames_;
  bool test_ = false;
  std::optional<Value> quit_value_;
  std::string zerror_;
  std::string ecode_, etrap_;
  std::vector<StackEntry> error_stack_;  // $STACK at the last error, while $ECODE is set
  int estack_base_ = 0;                   // the level where $ESTACK counts from (NEW $ESTACK)
  int trap_frames_ = 0;                   // frames running $ETRAP's code (no levels of $STACK)
  std::string error_location_;            // label+offset^routine of the last error
  int for_depth_ = 0;                     // FOR loops running (an argless QUIT ends the innermost)
  // Caught errors by number; the catch variable holds "n@%Exception.SystemException".
  std::map<std::uint64_t, ExceptionValue> exceptions_;
  std::uint64_t next_exception_ = 1;
  std::int64_t x_ = 0, y_ = 0;
  RoutineBuffer buffer_;
  bool halted_ = false;
  std::atomic<bool> stop_{false};
  std::uint64_t steps_ = 0;
  std::uint64_t next_budget_check_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  bool has_deadline_ = false;
  bool budget_hit_ = false;
  std::string naked_name_, naked_ns_;
  std::vector<Value> naked_subs_;
  bool naked_valid_ = false;
  std::string last_ref_;
  std::mt19937_64 random_;
  // Small caches of parsed XECUTE lines and indirection texts.
  std::unordered_map<std::string, std::shared_ptr<const Line>> xecute_cache_;
  std::unordered_map<std::string, std::shared_ptr<const Expr>> name_cache_;
  std::unordered_map<std::string, std::shared_ptr<const std::vector<CmdArg>>> args_cache_;
  int indirection_depth_ = 0;
  std::uintptr_t stack_base_ = 0;
  int argument_indirection_depth_ = 0;
  // Open transaction: $TLEVEL, the undo records of this process's global
  // updates since the outermost TSTART (oldest first), and where each level
  // began in them.
  int tlevel_ = 0;
  std::vector<UndoRecord> undo_;
  std::vector<std::size_t> level_starts_;
  // Restart: the locals each TSTART named (their values then; null when
  // undefined), where the outermost TSTART ran, and $TRESTART.
  using SavedLocals = std::vector<std::pair<std::string, std::shared_ptr<Var>>>;
  std::vector<SavedLocals> level_locals_;
  SavedLocals pending_restore_;
  struct RestartPoint {
    std::uint64_t frame_id = 0;
    std::shared_ptr<const Line> xline;  // the direct or XECUTE line of the TSTART, else null
    std::shared_ptr<const Routine> routine;
    int line = 0;
    int level = 0;
    std::size_t command = 0;
    std::size_t blocks = 0;  // TRY blocks of the frame open at the TSTART
    bool restartable = false;
  } restart_point_;
  int trestart_ = 0;
  bool restarting_ = false;
  std::uint64_t next_frame_id_ = 0;
};

// Pushes a frame and, however the frame ends, pops it and restores what it
// changed: NEWed and exclusively NEWed names, and $TEST where it is kept.
class FrameScope {
 public:
  FrameScope(Interpreter& in, std::unique_ptr<Frame> f);
  ~FrameScope();
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;
  Frame& frame() { return *in_.frames_.back(); }

 private:
  Interpreter& in_;
};

}  // namespace mengine
