// TRY/CATCH blocks and THROW, as the Cache dialect has them.
//
// The braces are paired when a routine or line is parsed (each TRY knows its
// CATCH, each CATCH and } the } that ends the CATCH block). At run time a
// frame keeps its open blocks: TRY pushes one; the } of a TRY block pops it
// and goes on after the CATCH block; an error in the frame while a TRY block
// is open pops the blocks inside it, sets the catch variable to an exception
// value and goes on in the CATCH block; the } of a CATCH block pops it. An
// argumentless QUIT leaves the innermost block and goes on after its CATCH
// block; GOTO leaves the blocks that do not hold its target; QUIT out of
// the frame leaves them all.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "interpreter.h"

namespace mengine {
namespace {

constexpr const char* kExceptionClass = "@%Exception.SystemException";
// Caught errors kept at most; the oldest is dropped beyond (its catch
// variable then answers <INVALID OREF>).
constexpr std::size_t kMaxExceptions = 1024;

// The dialect's numbers of the errors whose number is known here.
struct ErrorNumber {
  const char* name;
  const char* code;
};
constexpr ErrorNumber kErrorNumbers[] = {{"SYNTAX", "8"}, {"UNDEFINED", "9"}, {"DIVIDE", "18"}};

}  // namespace

const Command& Interpreter::CommandAt(const Frame& f, bool in_xline, CommandPlace place) const {
  // Blocks of a routine whose braces do not pair are not linked (the line
  // where they go wrong is a <SYNTAX> error; the others may still run).
  if (place.line < 0) Throw("SYNTAX");
  const Line& line = in_xline ? *f.xline : f.routine->lines[static_cast<std::size_t>(place.line)];
  return line.commands[place.command];
}

std::optional<std::size_t> Interpreter::GoOnAfter(Frame& f, CommandPlace place) {
  if (place.line < 0) Throw("SYNTAX");
  // Within the line running (the XECUTE or direct line has no other), the
  // loop of ExecLine goes on; else RunFrame resumes at the other line.
  if (f.xline || place.line == f.line) return place.command + 1;
  f.line = place.line;
  f.resume = place.command + 1;
  return std::nullopt;
}

std::optional<std::size_t> Interpreter::LeaveBlock(Frame& f) {
  const Frame::OpenBlock block = f.blocks.back();
  f.blocks.pop_back();
  const Command& try_cmd = CommandAt(f, block.in_xline, block.try_place);
  const Command& catch_cmd = CommandAt(f, block.in_xline, try_cmd.link);
  return GoOnAfter(f, catch_cmd.link);
}

std::optional<std::size_t> Interpreter::Block(Frame& f, const Command& c, std::size_t index) {
  const int line = f.xline ? 0 : f.line;
  switch (c.kind) {
    case Cmd::Try:
      f.blocks.push_back({CommandPlace{line, index}, f.xline != nullptr, false, for_depth_});
      return index + 1;
    case Cmd::Catch:
      // Reached without an error (GOTO into it): the block is skipped.
      return GoOnAfter(f, c.link);
    case Cmd::BlockEnd:
      // A } whose block was left (GOTO out of it and back) has nothing to end.
      if (f.blocks.empty()) return index + 1;
      if (c.closes_try) return LeaveBlock(f);
      f.blocks.pop_back();
      return index + 1;
    default:  // an argumentless QUIT inside a block
      return LeaveBlock(f);
  }
}

bool Interpreter::CatchError(Frame& f, const MError& e) {
  // An error inside a CATCH block leaves it, to the TRY block around it.
  while (!f.blocks.empty() && f.blocks.back().in_catch) f.blocks.pop_back();
  if (f.blocks.empty()) return false;
  Frame::OpenBlock& block = f.blocks.back();
  const Command& try_cmd = CommandAt(f, block.in_xline, block.try_place);
  const CommandPlace catch_place = try_cmd.link;
  const Command& catch_cmd = CommandAt(f, block.in_xline, catch_place);
  block.in_catch = true;
  for_depth_ = block.for_depth;
  std::uint64_t id = e.exception;
  if (!id || !exceptions_.count(id)) {
    ExceptionValue x;
    x.name = "<" + e.name + ">";
    for (const auto& n : kErrorNumbers)
      if (e.name == n.name) x.code = n.code;
    x.location = error_location_;
    x.data = !e.detail.empty() && e.detail[0] == '*' ? e.detail.substr(1) : e.detail;
    id = next_exception_++;
    exceptions_.emplace(id, std::move(x));
    if (exceptions_.size() > kMaxExceptions) exceptions_.erase(exceptions_.begin());
  }
  if (!catch_cmd.args.empty()) {
    const Expr& var = *catch_cmd.args.front().targets.front();
    Var* v = FastVar(var.sym, var.name);
    (v ? *v : VarFor(var.name)).root = Value::Str(std::to_string(id) + kExceptionClass);
  }
  if (!block.in_xline) f.line = catch_place.line;
  f.resume = catch_place.command + 1;
  return true;
}

void Interpreter::LeaveBlocksForGoto(Frame& f) {
  // A block is kept while the target line lies between its TRY and the end
  // of its CATCH block.
  while (!f.blocks.empty()) {
    const Frame::OpenBlock& block = f.blocks.back();
    if (!block.in_xline) {
      const Command& try_cmd = CommandAt(f, false, block.try_place);
      const Command& catch_cmd = CommandAt(f, false, try_cmd.link);
      if (f.line >= block.try_place.line && f.line <= catch_cmd.link.line) return;
    }
    f.blocks.pop_back();
  }
}

bool Interpreter::TryOpenedInLoop(const Frame& f) const {
  for (auto it = f.blocks.rbegin(); it != f.blocks.rend(); ++it)
    if (!it->in_catch) return it->for_depth == for_depth_;
  return false;
}

bool Interpreter::TryOpenOutside(const Frame& f) const {
  return std::any_of(frames_.begin(), frames_.end(),
                     [&](const auto& frame) { return frame.get() != &f && !frame->blocks.empty(); });
}

void Interpreter::ExecThrow(const CmdArg& a) {
  // Only a caught exception can be thrown again: making new exception
  // objects needs the object syntax, which this engine does not have.
  const std::string oref = ArgValue(Cmd::Throw, a).str();
  const auto at = oref.find('@');
  std::uint64_t id = 0;
  if (at != std::string::npos && oref.compare(at, std::string::npos, kExceptionClass) == 0)
    id = std::strtoull(oref.c_str(), nullptr, 10);
  auto it = exceptions_.find(id);
  if (it == exceptions_.end()) Throw("INVALID OREF");
  const ExceptionValue& x = it->second;
  MError e{x.name.substr(1, x.name.size() - 2), x.data.empty() ? x.data : "*" + x.data, false, false, false, id};
  throw e;
}

Value Interpreter::EvalProperty(const Expr& e) {
  const std::string oref = Eval(*e.args[0]).str();
  const auto at = oref.find('@');
  std::uint64_t id = 0;
  if (at != std::string::npos && oref.compare(at, std::string::npos, kExceptionClass) == 0)
    id = std::strtoull(oref.c_str(), nullptr, 10);
  auto it = exceptions_.find(id);
  if (it == exceptions_.end()) Throw("INVALID OREF");
  const ExceptionValue& x = it->second;
  if (e.name == "Name") return Value::Str(x.name);
  if (e.name == "Code") return Value::Str(x.code);
  if (e.name == "Location") return Value::Str(x.location);
  if (e.name == "Data") return Value::Str(x.data);
  Throw("PROPERTY DOES NOT EXIST", "*" + e.name + ",%Exception.SystemException");
}

}  // namespace mengine
