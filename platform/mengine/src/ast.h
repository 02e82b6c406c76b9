// The parsed form of M lines: expressions, commands, lines and routines.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "errors.h"
#include "value.h"

namespace mengine {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;
struct Pattern;

enum class ExprKind : std::uint8_t {
  Literal,      // literal
  Local,        // name(args...)
  Global,       // ^name(args...); empty name: naked reference ^(args...)
  Indirect,     // @args[0]; with subscript indirection @args[0]@(args[1..])
  Special,      // $name: op is a SpecialVar
  Function,     // $name(args): op is a Builtin
  Extrinsic,    // $$entry
  Unary,        // op args[0]
  Binary,       // args[0] op args[1]; negated for the ' forms
  PatternMatch,  // args[0] ? pattern (or ?@args[1])
  Property       // args[0].name: a property of an exception value
};

enum class Op : std::uint8_t {
  Add,
  Sub,
  Mul,
  Div,
  IntDiv,
  Mod,
  Pow,
  Concat,
  Equal,
  Less,
  Greater,
  LessEq,
  GreaterEq,
  Follows,
  SortsAfter,
  Contains,
  And,
  Or,
  AndThen,
  OrElse,
  Plus,
  Minus,
  Not
};

struct Actual {
  ExprPtr expr;          // value argument
  std::string ref;       // .name by reference
  ExprPtr ref_indirect;  // .@expr by reference: the name is the value
  bool by_ref = false;
  bool omitted = false;  // f(,x)
};

struct EntryRef {
  std::string label;
  ExprPtr label_indirect;  // @expr as label
  ExprPtr offset;          // +expr
  std::string routine;
  ExprPtr routine_indirect;  // ^@expr
  bool has_routine = false;
  bool has_actuals = false;
  std::vector<Actual> actuals;
};

struct Expr {
  ExprKind kind = ExprKind::Literal;
  std::uint8_t op = 0;
  bool negated = false;
  bool subscript_indirect = false;
  std::string name;
  std::uint32_t sym = 0;  // InternName(name) for locals
  Value literal;
  std::vector<ExprPtr> args;
  std::unique_ptr<EntryRef> entry;
  std::shared_ptr<Pattern> pattern;
  // Cached answer of Interpreter::Pure (-1: not yet known); trees are shared
  // between threads, hence atomic.
  mutable std::atomic<std::int8_t> pure{-1};
};

enum class Cmd : std::uint8_t {
  Break,
  Close,
  Do,
  Else,
  For,
  Goto,
  Halt,
  Hang,
  If,
  Job,
  Kill,
  Lock,
  Merge,
  New,
  Open,
  Quit,
  Read,
  Set,
  TStart,
  TCommit,
  TRollback,
  Use,
  View,
  Write,
  Xecute,
  ZNspace,
  ZWrite,
  ZLoad,
  ZRemove,
  ZInsert,
  ZSave,
  ZPrint,
  ZTrap,
  ZBreak,
  Try,       // TRY {
  Catch,     // CATCH [var] {
  Throw,     // THROW expr
  BlockEnd,  // } closing a TRY or CATCH block
  TRestart
};

struct ForRange {
  ExprPtr start, step, limit;  // step/limit may be null
};

struct CmdArg {
  ExprPtr postcond;                 // per-argument :condition (DO, GOTO, XECUTE, JOB)
  ExprPtr indirect;                 // argument indirection @expr
  ExprPtr expr;                     // the argument's expression
  std::vector<ExprPtr> targets;     // SET/MERGE targets, KILL/NEW/LOCK/ZWRITE names
  char format = 0;                  // WRITE: '?', '*' or 0 for an expression
  std::string formats;              // WRITE: a run of '!' and '#' before it
  char lock_mode = 0;               // LOCK: '+', '-' or 0
  bool exclusive = false;           // KILL/NEW (a,b)
  ExprPtr timeout;                  // LOCK/JOB/READ :timeout
  ExprPtr length;                   // READ x#n
  std::unique_ptr<EntryRef> entry;  // DO, GOTO, JOB, ZINSERT position
  ExprPtr for_var;
  std::vector<ForRange> ranges;
};

// A place in a routine: a line and the index of a command in it.
struct CommandPlace {
  int line = -1;  // -1: not linked
  std::size_t command = 0;
};

struct Command {
  Cmd kind = Cmd::Break;
  ExprPtr postcond;
  bool argless = true;
  std::vector<CmdArg> args;
  // TRY and CATCH blocks, linked when the routine or line is parsed: for
  // TRY, its CATCH; for CATCH and for the } of either block, the } that
  // ends the CATCH block (where a finished TRY or CATCH block goes on after).
  CommandPlace link;
  bool closes_try = false;  // BlockEnd: ends a TRY block (else a CATCH block)
};

struct Line {
  std::string text;
  std::string label;
  bool has_formals = false;
  std::vector<std::string> formals;
  int level = 0;  // number of level dots
  std::vector<Command> commands;
  std::optional<MError> syntax_error;  // raised when the line runs
};

struct Routine {
  std::string name;
  std::vector<Line> lines;
  std::unordered_map<std::string, int> labels;  // first line of each label
  std::uint64_t version = 0;
  bool has_source = true;  // false: $TEXT answers "" for every line
};

}  // namespace mengine
