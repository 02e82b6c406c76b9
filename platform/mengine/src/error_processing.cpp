// Standard error processing: $ECODE, $ETRAP, $ESTACK and $STACK.
//
// Every error adds its code to $ECODE (",M6," for an undefined local) and
// keeps a picture of the stack levels as they were, which $STACK(n,...)
// shows while $ECODE is not empty. When no $ZTRAP is in effect and $ETRAP
// is not empty, $ETRAP's code runs at the level of the error as if XECUTEd
// there (without being a level of its own); then that level quits. If the
// code left $ECODE set, the error goes on at the level above, whose $ETRAP
// (after the levels' NEWs are undone) runs in turn. An error inside the
// trap's code goes straight to the level above.
#include <algorithm>

#include "interpreter.h"

namespace mengine {
namespace {

// Errors that have a code of the standard; the rest are "Z" + their name.
struct StandardCode {
  const char* name;
  const char* code;
};
constexpr StandardCode kStandardCodes[] = {
    {"NAKED", "M1"},      {"SELECT", "M4"},     {"DIVIDE", "M9"},     {"NOLINE", "M13"},
    {"MERGE", "M19"},     {"PARAMETER", "M58"}, {"MAXSTRING", "M75"}, {"MAXNUMBER", "M92"},
};

// $ECODE and a level's codes keep at most this many bytes: a loop that
// catches an error on every turn would grow them without end otherwise.
// The oldest codes go first.
constexpr std::size_t kMaxECode = 512;

void AppendCode(std::string& list, const std::string& code) {
  if (list.empty()) list = ",";
  list += code;
  list += ',';
  if (list.size() <= kMaxECode) return;
  std::size_t cut = list.find(',', list.size() - kMaxECode + 1);
  if (cut == std::string::npos || cut + 1 >= list.size()) return;
  list.erase(0, cut);
}

}  // namespace

std::string Interpreter::ECodeOf(const MError& e) {
  // An undefined global is M7; its detail names it with its '^'.
  if (e.name == "UNDEFINED") return e.detail.rfind("*^", 0) == 0 ? "M7" : "M6";
  for (const auto& c : kStandardCodes)
    if (e.name == c.name) return c.code;
  return "Z" + e.name;
}

std::size_t Interpreter::StackLevel() const { return frames_.size() - 1 - static_cast<std::size_t>(trap_frames_); }

const Frame& Interpreter::FrameAtLevel(std::size_t level) const {
  // The frames that run $ETRAP's code are no levels: skip them.
  std::size_t seen = 0;
  for (const auto& f : frames_) {
    if (f->trap_code) continue;
    if (seen++ == level) return *f;
  }
  return *frames_.back();
}

StackEntry Interpreter::LevelInfo(std::size_t level) const {
  const Frame& f = FrameAtLevel(level);
  StackEntry s;
  s.kind = level == 0 ? "" : f.xecute ? "XECUTE" : f.extrinsic ? "$$" : "DO";
  std::string where = f.xecute || !f.routine ? std::string("@") : Location(f);
  s.place = where + " +" + std::to_string(f.command);
  if (f.xline)
    s.mcode = f.xline->text;
  else if (f.routine && f.line >= 0 && f.line < static_cast<int>(f.routine->lines.size()))
    s.mcode = f.routine->lines[static_cast<std::size_t>(f.line)].text;
  return s;
}

void Interpreter::RecordError(const std::string& code, bool add_to_ecode) {
  if (add_to_ecode) AppendCode(ecode_, code);
  const std::size_t level = StackLevel();
  if (error_stack_.size() < level + 1) error_stack_.resize(level + 1);
  for (std::size_t i = 0; i <= level; ++i) {
    std::string kept = std::move(error_stack_[i].ecode);
    error_stack_[i] = LevelInfo(i);
    error_stack_[i].ecode = std::move(kept);
  }
  AppendCode(error_stack_[level].ecode, code);
}

void Interpreter::SetECode(const std::string& value) {
  if (value.empty()) {
    ClearErrorState();
    return;
  }
  // A value set by the program is an error of its own: its code is the value.
  std::string code = value;
  if (code.front() != ',') code.insert(0, ",");
  if (code.back() != ',') code.push_back(',');
  ecode_ = code;
  RecordError(code.substr(1, code.size() - 2), false);
  throw MError{"ECODETRAP", {}, false, false, true};
}

void Interpreter::RunETrap(Frame& f) {
  if (static_cast<int>(frames_.size()) > limits_.max_stack) Throw("FRAMESTACK");
  auto nf = std::make_unique<Frame>();
  nf->routine = f.routine;
  nf->line = f.line;
  nf->xline = ParseXecute(etrap_);
  nf->xecute = true;
  nf->trap_code = true;
  struct Count {
    int& n;
    explicit Count(int& c) : n(c) { ++n; }
    ~Count() { --n; }
  } count(trap_frames_);
  FrameScope scope(*this, std::move(nf));
  RunFrame(scope.frame());
  quit_value_.reset();
}

Value Interpreter::StackFunction(const Expr& e) {
  const std::int64_t n = Eval(*e.args[0]).Int64();
  std::string form;
  if (e.args.size() > 1) form = Eval(*e.args[1]).str();
  const std::size_t level = StackLevel();
  const bool error = !ecode_.empty();
  const std::size_t top = error ? std::max(level, error_stack_.empty() ? 0 : error_stack_.size() - 1) : level;
  if (n == -1) return Value::Int(static_cast<std::int64_t>(top));
  if (n < 0 || static_cast<std::size_t>(n) > top) return Value();
  const auto at = static_cast<std::size_t>(n);
  StackEntry entry = error && at < error_stack_.size() ? error_stack_[at] : LevelInfo(at);
  if (e.args.size() < 2) return Value::Str(entry.kind);
  for (auto& c : form)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (form == "PLACE") return Value::Str(entry.place);
  if (form == "MCODE") return Value::Str(entry.mcode);
  if (form == "ECODE") return Value::Str(entry.ecode);
  Throw("FUNCTION");
}

}  // namespace mengine
