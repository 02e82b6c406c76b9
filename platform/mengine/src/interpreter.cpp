// Frames, control flow, error trapping and the public Process API.
#include "interpreter.h"

#include <algorithm>
#include <thread>

#include "mengine/keycodec.h"
#include "parser.h"

namespace mengine {
namespace {

// Parsed routines hang on their stored image, so each version is parsed once.
struct ParsedRoutine {
  std::shared_ptr<const Routine> routine;
};

}  // namespace

FrameScope::FrameScope(Interpreter& in, std::unique_ptr<Frame> f) : in_(in) {
  f->id = ++in_.next_frame_id_;
  in_.frames_.push_back(std::move(f));
}

FrameScope::~FrameScope() {
  ++in_.epoch_;
  Frame& f = *in_.frames_.back();
  if (f.exclusive) {
    for (auto it = in_.symtab_.begin(); it != in_.symtab_.end();) {
      if (std::find(f.keep.begin(), f.keep.end(), it->first) == f.keep.end())
        it = in_.symtab_.erase(it);
      else
        ++it;
    }
  }
  for (auto it = f.saved.rbegin(); it != f.saved.rend(); ++it) {
    if (it->second)
      in_.symtab_[it->first] = it->second;
    else
      in_.symtab_.erase(it->first);
  }
  if (f.restore_test) in_.test_ = f.saved_test;
  if (f.saved_etrap) in_.etrap_ = std::move(*f.saved_etrap);
  if (f.saved_estack_base) in_.estack_base_ = *f.saved_estack_base;
  in_.frames_.pop_back();
}

Interpreter::Interpreter(Host& host, ProcessOptions options)
    : host_(host), limits_(options.limits), output_(options.output), input_(options.input) {
  ns_ = options.ns;
  if (ns_.empty()) {
    auto names = host_.Namespaces();
    ns_ = names.empty() ? "USER"
                        : (std::find(names.begin(), names.end(), "USER") != names.end() ? "USER" : names.front());
  }
  job_ = options.job ? options.job : host_.NewJobId();
  random_.seed(job_ * 2654435761u +
               static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  frames_.push_back(std::make_unique<Frame>());
}

Interpreter::~Interpreter() {
  // A process that ends with a transaction open has it rolled back.
  try {
    RollbackOpenTransaction();
  } catch (...) {
  }
  host_.Locks().ReleaseAll(job_);
}

bool Interpreter::SetNamespace(std::string_view ns) {
  if (!host_.Globals(ns)) return false;
  ns_ = std::string(ns);
  return true;
}

void Interpreter::SetLocal(std::string_view name, std::string_view value) {
  Var& v = VarFor(std::string(name));
  v.root = Value::Str(std::string(value));
}

std::optional<std::string> Interpreter::GetLocal(std::string_view name) const {
  Var* v = FindVar(std::string(name));
  if (!v) return std::nullopt;
  if (!v->root) return std::nullopt;
  return v->root->str();
}

void Interpreter::KillLocal(std::string_view name) {
  if (Var* v = FindVar(std::string(name))) v->Clear();
}

// ---- budget ----

bool Interpreter::Cancelled() {
  if (stop_) return true;
  if (has_deadline_ && std::chrono::steady_clock::now() > deadline_) return true;
  return false;
}

void Interpreter::MarkStackBase() {
  char probe = 0;
  stack_base_ = reinterpret_cast<std::uintptr_t>(&probe);
}

void Interpreter::CheckBudget() {
  if (limits_.memory_exceeded && limits_.memory_exceeded->exchange(false)) Throw("STORE");
  if (limits_.max_steps && steps_ > limits_.max_steps) budget_hit_ = true;
  if ((steps_ & 255) == 0 && Cancelled()) budget_hit_ = true;
  if (budget_hit_) {
    next_budget_check_ = 0;  // every further step ends here too
    throw MError{"INTERRUPT", {}, true, false};
  }
  next_budget_check_ = (steps_ | 255) + 1;
  if (limits_.max_steps && limits_.max_steps < next_budget_check_) next_budget_check_ = limits_.max_steps + 1;
}

// ---- errors ----

std::string Interpreter::Location(const Frame& f) const {
  if (!f.routine || f.line < 0 || f.line >= static_cast<int>(f.routine->lines.size())) return {};
  int label_line = -1;
  for (int i = f.line; i >= 0; --i) {
    if (!f.routine->lines[static_cast<std::size_t>(i)].label.empty()) {
      label_line = i;
      break;
    }
  }
  std::string loc;
  if (label_line >= 0) {
    loc = f.routine->lines[static_cast<std::size_t>(label_line)].label;
    if (f.line > label_line) loc += "+" + std::to_string(f.line - label_line);
  } else {
    loc = "+" + std::to_string(f.line + 1);
  }
  return loc + "^" + f.routine->name;
}

void Interpreter::SetError(MError& e) {
  if (e.located) return;
  e.located = true;
  const Frame* where = nullptr;
  // An XECUTE frame reports the routine line that ran the XECUTE.
  for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
    if (!(*it)->xecute || !(*it)->xline) {
      where = it->get();
      break;
    }
  }
  error_location_ = where ? Location(*where) : std::string();
  std::string text = "<" + e.name + ">" + error_location_;
  if (!e.detail.empty()) text += " " + e.detail;
  zerror_ = text;
  if (!e.coded) RecordError(ECodeOf(e), true);
  e.coded = true;
}

std::string Interpreter::TrapOf(const Frame& f) const { return f.ztrap_here ? f.ztrap : ""; }

// ---- routines ----

std::shared_ptr<const Routine> Interpreter::LoadRoutine(const std::string& name) {
  RoutineStore* store = host_.Routines(!name.empty() && name[0] == '%' ? "%SYS" : ns_);
  if (!store) Throw("NOROUTINE", "*" + name);
  auto image = store->Load(name);
  if (!image) Throw("NOROUTINE", "*" + name);
  std::lock_guard lock(image->engine_cache_mutex);
  if (image->engine_cache) return static_cast<const ParsedRoutine*>(image->engine_cache.get())->routine;
  auto parsed = std::make_shared<ParsedRoutine>();
  auto routine = ParseRoutine(name, image->source, limits_.max_nesting);
  routine->version = image->version;
  routine->has_source = image->has_source;
  parsed->routine = routine;
  image->engine_cache = parsed;
  return routine;
}

Interpreter::Target Interpreter::ResolveEntry(const Frame& f, const EntryRef& e) {
  std::string label = e.label;
  if (e.label_indirect) {
    std::string text = Eval(*e.label_indirect).str();
    // @x may hold a whole entry reference.
    auto inner = ParseEntryText(text, limits_.max_nesting, false);
    if (inner->has_routine || inner->offset) {
      if (e.offset || e.has_routine) Throw("SYNTAX");
      return ResolveEntry(f, *inner);
    }
    label = inner->label;
  }
  Target t;
  std::string routine_name;
  if (e.has_routine) {
    routine_name = e.routine_indirect ? Eval(*e.routine_indirect).str() : e.routine;
    t.routine = LoadRoutine(routine_name);
  } else {
    t.routine = f.routine;
    if (!t.routine) Throw("NOLINE", "*" + label);
    routine_name = t.routine->name;
  }
  int line = 0;
  if (!label.empty()) {
    auto it = t.routine->labels.find(label);
    if (it == t.routine->labels.end()) Throw("NOLINE", "*" + label + "^" + routine_name);
    line = it->second;
  }
  if (e.offset) {
    std::int64_t off = Eval(*e.offset).Int64();
    if (label.empty()) off -= 1;  // +n^rou counts lines from 1
    if (off < 0 && label.empty()) Throw("NOLINE", "*+" + std::to_string(off + 1) + "^" + routine_name);
    line += static_cast<int>(std::clamp<std::int64_t>(off, -1000000, 1000000));
  }
  if (line < 0 || line >= static_cast<int>(t.routine->lines.size())) Throw("NOLINE", "*" + label + "^" + routine_name);
  t.line = line;
  return t;
}

std::shared_ptr<const Line> Interpreter::ParseXecute(const std::string& text) {
  auto it = xecute_cache_.find(text);
  if (it != xecute_cache_.end()) return it->second;
  auto line = std::make_shared<Line>(ParseCommandLine(text, limits_.max_nesting));
  if (xecute_cache_.size() > 256) xecute_cache_.clear();
  xecute_cache_.emplace(text, line);
  return line;
}

// ---- frames ----

void Interpreter::RunFrame(Frame& f) {
  for (;;) {
    try {
      if (f.xline) {
        const std::size_t from = f.resume;
        f.resume = 0;
        Flow flow = ExecLine(f, *f.xline, from);
        if (flow == Flow::Jump) continue;
        if (flow != Flow::Goto) return;
        f.xline = nullptr;  // GOTO from an XECUTE continues in the routine
      }
      for (;;) {
        if (!f.routine || f.line >= static_cast<int>(f.routine->lines.size())) {
          quit_value_.reset();
          return;
        }
        const Line& line = f.routine->lines[static_cast<std::size_t>(f.line)];
        if (line.level < f.level) {
          quit_value_.reset();
          return;
        }
        if (line.level > f.level) {
          ++f.line;
          continue;
        }
        const std::size_t from = f.resume;
        f.resume = 0;
        Flow flow = ExecLine(f, line, from);
        if (flow == Flow::Quit) return;
        if (flow == Flow::Next) ++f.line;
      }
    } catch (RestartSignal& r) {
      if (!ResumeAtRestart(f, r)) throw;
    } catch (MError& e) {
      SetError(e);
      if (e.untrappable) throw;
      // A TRY block open in this frame takes the error first.
      if (!f.blocks.empty() && CatchError(f, e)) continue;
      // A $ZTRAP in effect (set here or by a caller) takes the error before
      // $ETRAP: the frames unwind to the one that set it.
      if (!f.ztrap.empty()) {
        if (!f.ztrap_here) throw;
        std::string trap = f.ztrap;
        // The trap is used once: an error inside the handler goes further out.
        f.ztrap.clear();
        f.ztrap_here = false;
        if (!trap.empty() && trap[0] == '*') trap.erase(0, 1);
        auto entry = ParseEntryText(trap, limits_.max_nesting, false);
        Target t = ResolveEntry(f, *entry);
        f.routine = t.routine;
        f.line = t.line;
        f.level = t.routine->lines[static_cast<std::size_t>(t.line)].level;
        f.xline = nullptr;
        continue;
      }
      // $ETRAP runs at the level of the error, then that level quits; an
      // error inside the trap leaves this frame at once, to the level above.
      if (etrap_.empty() || f.trap_code || TryOpenOutside(f)) throw;
      RunETrap(f);
      if (!ecode_.empty()) {
        // Not cleared: the error goes on at the level above.
        MError again = e;
        again.located = again.coded = true;
        throw again;
      }
      quit_value_.reset();
      if (f.extrinsic) quit_value_ = Value();  // QUIT:$QUIT ""
      return;
    }
  }
}

Flow Interpreter::ExecLine(Frame& f, const Line& line, std::size_t from) {
  if (line.syntax_error) {
    MError e = *line.syntax_error;
    throw e;
  }
  for (std::size_t i = from; i < line.commands.size(); ++i) {
    const Command& c = line.commands[i];
    Step();
    f.command = i + 1;
    if (c.postcond && !Eval(*c.postcond).truth()) continue;
    if (c.kind == Cmd::Set) {
      // The most frequent command, run here rather than through ExecCommand.
      for (const auto& a : c.args) ExecSet(a);
      continue;
    }
    if (c.kind == Cmd::For) return ExecFor(f, line, i, c);
    if (c.kind == Cmd::If) {
      if (c.argless) {
        if (!test_) return Flow::Next;
        continue;
      }
      // Each argument sets $TEST as it is evaluated: a later one may read it.
      for (const auto& a : c.args)
        if (!AllTrue(a)) return Flow::Next;
      continue;
    }
    if (c.kind == Cmd::Else) {
      if (test_) return Flow::Next;
      continue;
    }
    if ((c.kind >= Cmd::Try && c.kind <= Cmd::BlockEnd && c.kind != Cmd::Throw) ||
        (c.kind == Cmd::Quit && c.argless && !f.blocks.empty() && f.blocks.back().for_depth == for_depth_)) {
      auto next = Block(f, c, i);
      if (!next) return Flow::Jump;
      i = *next - 1;
      continue;
    }
    Flow flow = ExecCommand(f, line, i);
    if (flow != Flow::Next) return flow;
  }
  return Flow::Next;
}

std::optional<Value> Interpreter::Call(Frame& caller, const EntryRef& entry, bool extrinsic) {
  if (static_cast<int>(frames_.size()) > limits_.max_stack) Throw("FRAMESTACK");
  CheckStack();
  Target t = ResolveEntry(caller, entry);
  const Line& first = t.routine->lines[static_cast<std::size_t>(t.line)];
  if (entry.has_actuals && !first.has_formals) Throw("PARAMETER");
  if (entry.actuals.size() > first.formals.size()) Throw("PARAMETER");
  // Actual values are taken before the new frame binds the formals.
  std::vector<std::optional<Value>> values(entry.actuals.size());
  std::vector<VarPtr> refs(entry.actuals.size());
  for (std::size_t i = 0; i < entry.actuals.size(); ++i) {
    const Actual& a = entry.actuals[i];
    if (a.omitted) continue;
    if (a.by_ref) {
      const std::string name = a.ref_indirect ? IndirectName(*a.ref_indirect) : a.ref;
      VarFor(name);
      refs[i] = symtab_[name];
    } else {
      values[i] = Eval(*a.expr);
    }
  }
  auto nf = std::make_unique<Frame>();
  nf->routine = t.routine;
  nf->line = t.line;
  nf->level = first.level;
  nf->extrinsic = extrinsic;
  nf->ztrap = caller.ztrap;
  if (extrinsic) {
    nf->restore_test = true;
    nf->saved_test = test_;
  }
  FrameScope scope(*this, std::move(nf));
  Frame& f = scope.frame();
  ++epoch_;
  if (first.has_formals) {
    for (std::size_t i = 0; i < first.formals.size(); ++i) {
      const std::string& name = first.formals[i];
      NewName(f, name);
      if (i < refs.size() && refs[i]) {
        symtab_[name] = refs[i];
      } else if (i < values.size() && values[i]) {
        symtab_[name]->root = *values[i];
      }
    }
    ++epoch_;  // by-reference formals rebind names
  }
  quit_value_.reset();
  RunFrame(f);
  std::optional<Value> result = std::move(quit_value_);
  quit_value_.reset();
  if (extrinsic != result.has_value()) {
    // QUIT without a value from an extrinsic, or with one from a DO: the
    // error belongs to the called frame's line.
    MError e{"COMMAND", {}, false, false};
    SetError(e);
    throw e;
  }
  return result;
}

// ---- public entry points ----

void Interpreter::BeginCall() {
  ClearErrorState();
  steps_ = 0;
  next_budget_check_ = 0;
  budget_hit_ = false;
  MarkStackBase();
  has_deadline_ = limits_.max_time.count() > 0;
  if (has_deadline_) deadline_ = std::chrono::steady_clock::now() + limits_.max_time;
}

void Interpreter::EndProcess() {
  halted_ = true;
  RollbackOpenTransaction();
  host_.Locks().ReleaseAll(job_);
}

// The one place where a call from the host ends: M errors become $ZERROR
// and the Result's text, HALT ends the process, and C++ failures (memory,
// anything else thrown) become <STORE> and <SYSTEM>.
template <typename Body>
Result Interpreter::Protected(Body&& body) {
  Result r;
  try {
    body(r);
  } catch (MError& e) {
    SetError(e);
    r.error = true;
    r.error_text = zerror_;
  } catch (HaltSignal&) {
    EndProcess();
    r.halted = true;
  } catch (RestartSignal&) {
    // The frame of the TSTART was gone: the restart has nowhere to go (the
    // transaction is rolled back already).
    restarting_ = false;
    trestart_ = 0;
    pending_restore_.clear();
    r.error = true;
    zerror_ = r.error_text = "<COMMAND>";
  } catch (std::bad_alloc&) {
    r.error = true;
    zerror_ = r.error_text = "<STORE>";
  } catch (std::exception&) {
    r.error = true;
    zerror_ = r.error_text = "<SYSTEM>";
  }
  return r;
}

Result Interpreter::Execute(std::string_view text) {
  if (halted_) return HaltedResult();
  std::string_view trimmed = text;
  while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t')) trimmed.remove_prefix(1);
  if (!trimmed.empty() && trimmed.front() == '$') return Evaluate(trimmed);
  BeginCall();
  while (frames_.size() > 1) frames_.pop_back();
  Frame& base = *frames_.front();
  // Each call from the host is one top-level execution: a $ZTRAP set by an
  // earlier call does not outlive it.
  base.ztrap.clear();
  base.ztrap_here = false;
  Result r = Protected([&](Result& out) {
    base.xline = ParseXecute(std::string(text));
    base.routine = nullptr;
    base.line = 0;
    base.level = 0;
    RunFrame(base);
    if (quit_value_) {
      out.value = quit_value_->str();
      out.has_value = true;
      quit_value_.reset();
    }
  });
  base.xline = nullptr;
  base.routine = nullptr;
  return r;
}

Result Interpreter::Evaluate(std::string_view text) {
  if (halted_) return HaltedResult();
  BeginCall();
  while (frames_.size() > 1) frames_.pop_back();
  frames_.front()->ztrap.clear();
  frames_.front()->ztrap_here = false;
  return Protected([&](Result& out) {
    auto it = name_cache_.find(std::string(text));
    std::shared_ptr<const Expr> e;
    if (it != name_cache_.end() && text.size() > 0 && text[0] == '$') {
      e = it->second;
    } else {
      e = ParseExpressionText(text, limits_.max_nesting);
      if (name_cache_.size() > 256) name_cache_.clear();
      if (!text.empty() && text[0] == '$') name_cache_.emplace(std::string(text), e);
    }
    out.value = Eval(*e).str();
    out.has_value = true;
  });
}

Result Interpreter::RunEntry(const JobRequest& request) {
  parent_job_ = request.parent_job;
  BeginCall();
  Result r = Protected([&](Result&) {
    EntryRef entry;
    entry.label = request.label;
    entry.has_routine = true;
    entry.routine = request.routine;
    if (request.offset) {
      auto off = std::make_unique<Expr>();
      off->literal = Value::Int(request.offset);
      entry.offset = std::move(off);
    }
    if (!request.args.empty()) {
      entry.has_actuals = true;
      for (const auto& a : request.args) {
        Actual act;
        act.expr = std::make_unique<Expr>();
        act.expr->literal = Value::Str(a);
        entry.actuals.push_back(std::move(act));
      }
    }
    Call(*frames_.front(), entry, false);
  });
  // A job is a whole process: it ends here.
  if (!halted_) EndProcess();
  return r;
}

Result Interpreter::HaltedResult() {
  Result r;
  r.error = true;
  r.error_text = "<HALTED>";
  return r;
}

// ---- Process ----

Process::Process(Host& host, ProcessOptions options) : impl_(std::make_unique<Interpreter>(host, std::move(options))) {}
Process::~Process() = default;
Result Process::Execute(std::string_view line) { return impl_->Execute(line); }
Result Process::Evaluate(std::string_view expression) { return impl_->Evaluate(expression); }
Result Process::RunEntry(const JobRequest& request) { return impl_->RunEntry(request); }
void Process::SetLocal(std::string_view name, std::string_view value) { impl_->SetLocal(name, value); }
std::optional<std::string> Process::GetLocal(std::string_view name) const { return impl_->GetLocal(name); }
void Process::KillLocal(std::string_view name) { impl_->KillLocal(name); }
std::string Process::Namespace() const { return impl_->Namespace(); }
bool Process::SetNamespace(std::string_view ns) { return impl_->SetNamespace(ns); }
std::uint64_t Process::Job() const { return impl_->Job(); }
bool Process::Halted() const { return impl_->Halted(); }
void Process::RequestStop() { impl_->RequestStop(); }

std::string CompileRoutine(std::string_view name, const std::vector<std::string>& lines, std::string* error) {
  // The compiled form records the format and the label table; the engine
  // builds its tree from the source once per stored version.
  auto routine = ParseRoutine(name, lines, Limits{}.max_nesting);
  std::string out = "MENGINE1\n";
  std::string last_label;
  int since = 0;
  bool reported = false;
  for (std::size_t i = 0; i < routine->lines.size(); ++i) {
    const Line& l = routine->lines[i];
    if (!l.label.empty()) {
      out += l.label + "\t" + std::to_string(i) + "\n";
      last_label = l.label;
      since = 0;
    } else {
      ++since;
    }
    if (l.syntax_error && error && !reported) {
      reported = true;
      std::string where =
          last_label.empty() ? "+" + std::to_string(i + 1) : last_label + (since ? "+" + std::to_string(since) : "");
      *error = "<" + l.syntax_error->name + ">" + where + "^" + std::string(name);
    }
  }
  return out;
}

}  // namespace mengine
