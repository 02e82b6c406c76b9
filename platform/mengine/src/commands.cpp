// The M commands.
#include <algorithm>
#include <thread>

#include "interpreter.h"
#include "lexer.h"
#include "lists.h"
#include "mengine/keycodec.h"
#include "names.h"
#include "parser.h"

namespace mengine {
namespace {

std::string SetPiece(const std::string& s, const std::string& d, std::int64_t from, std::int64_t to,
                     const std::string& v) {
  if (to < from || to < 1) return s;
  if (from < 1) from = 1;
  std::vector<std::string> pieces;
  std::size_t pos = 0;
  // With an empty delimiter the whole string is piece 1.
  if (d.empty()) pieces.push_back(s);
  while (!d.empty()) {
    std::size_t next = s.find(d, pos);
    if (next == std::string::npos) {
      pieces.push_back(s.substr(pos));
      break;
    }
    pieces.push_back(s.substr(pos, next - pos));
    pos = next + d.size();
  }
  if (static_cast<std::int64_t>(pieces.size()) < to) pieces.resize(static_cast<std::size_t>(to));
  auto f = static_cast<std::size_t>(from - 1), t = static_cast<std::size_t>(to);
  pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(f), pieces.begin() + static_cast<std::ptrdiff_t>(t));
  pieces.insert(pieces.begin() + static_cast<std::ptrdiff_t>(f), v);
  std::string out;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i) out += d;
    out += pieces[i];
  }
  return out;
}

std::string SetExtract(std::string s, std::int64_t from, std::int64_t to, const std::string& v) {
  if (to < from || to < 1) return s;
  if (from < 1) from = 1;
  if (static_cast<std::int64_t>(s.size()) < from - 1) s.resize(static_cast<std::size_t>(from - 1), ' ');
  auto f = static_cast<std::size_t>(from - 1);
  std::size_t t = std::min(static_cast<std::size_t>(to), s.size());
  return s.substr(0, f) + v + (t < s.size() ? s.substr(t) : std::string());
}

// A time-out of LOCK, JOB or HANG in milliseconds: a negative one is 0, and
// one above about 31 years is cut to that, which is a wait without end in
// practice; a longer one would overflow the clock's 64-bit nanoseconds when
// added to the current time.
std::chrono::milliseconds WaitTime(const Number& seconds) {
  constexpr std::int64_t kLongestWait = 1'000'000'000'000;
  const std::int64_t n = Mul(seconds, Number::FromInt(1000)).ToInt64();
  return std::chrono::milliseconds(std::clamp<std::int64_t>(n, 0, kLongestWait));
}

std::chrono::milliseconds Seconds(const Value& v) { return WaitTime(v.num()); }

}  // namespace

IndirectList Interpreter::IndirectArgs(Cmd kind, const Expr& e) {
  std::string text = Eval(e).str();
  std::string key = std::to_string(static_cast<int>(kind)) + ":" + text;
  auto it = args_cache_.find(key);
  if (it != args_cache_.end()) return IndirectList(it->second, argument_indirection_depth_, limits_.max_indirection);
  auto args = std::make_shared<const std::vector<CmdArg>>(ParseArgumentText(kind, text, limits_.max_nesting));
  if (args_cache_.size() > 256) args_cache_.clear();
  args_cache_.emplace(key, args);
  return IndirectList(args, argument_indirection_depth_, limits_.max_indirection);
}

Value Interpreter::ArgValue(Cmd kind, const CmdArg& a) {
  if (a.indirect) {
    auto list = IndirectArgs(kind, *a.indirect);
    return ArgValue(kind, list.front());
  }
  return Eval(*a.expr);
}

bool Interpreter::AllTrue(const CmdArg& a) {
  if (a.indirect) {
    for (const auto& ia : IndirectArgs(Cmd::If, *a.indirect))
      if (!AllTrue(ia)) return false;
    return true;
  }
  test_ = Eval(*a.expr).truth();
  return test_;
}

// One turn of a FOR loop whose body holds a TRY block: an error there is
// caught by the block (its CATCH block runs, then the rest of the body).
Flow Interpreter::LoopBodyWithTry(Frame& f, const Line& line, std::size_t from) {
  const int line_index = f.line;
  for (;;) {
    try {
      return ExecLine(f, line, from);
    } catch (MError& e) {
      if (e.untrappable || !TryOpenedInLoop(f)) throw;
      SetError(e);
      CatchError(f, e);
      if (!f.xline && f.line != line_index) return Flow::Jump;
      from = f.resume;
      f.resume = 0;
    }
  }
}

Flow Interpreter::ExecFor(Frame& f, const Line& line, std::size_t index, const Command& c) {
  // A TRY block in the loop's body must catch its errors without leaving
  // the loop: only then does the body run under a handler of its own.
  const bool has_try = std::any_of(line.commands.begin() + static_cast<std::ptrdiff_t>(index) + 1, line.commands.end(),
                                   [](const Command& cmd) { return cmd.kind == Cmd::Try; });
  auto body = [&]() -> std::optional<Flow> {
    Flow flow = has_try ? LoopBodyWithTry(f, line, index + 1) : ExecLine(f, line, index + 1);
    if (flow == Flow::Quit) {
      if (quit_value_) Throw("COMMAND");
      return Flow::Next;  // QUIT ends the loop; the rest of the line was its body
    }
    if (flow == Flow::Goto || flow == Flow::Jump) return flow;
    return std::nullopt;
  };
  // Counts the running loops: an argumentless QUIT ends a loop opened inside
  // a TRY block, and the block only when no loop opened in it runs.
  struct Depth {
    int& n;
    explicit Depth(int& d) : n(d) { ++n; }
    ~Depth() { --n; }
  } depth(for_depth_);
  if (c.argless) {
    for (;;) {
      Step();
      if (auto flow = body()) return *flow;
    }
  }
  const CmdArg& arg = c.args.front();
  Ref var = Resolve(*arg.for_var);
  for (const ForRange& r : arg.ranges) {
    if (!r.step) {
      Set(var, Eval(*r.start));
      if (auto flow = body()) return *flow;
      continue;
    }
    Number value = Eval(*r.start).num();
    Number step = Eval(*r.step).num();
    std::optional<Number> limit;
    if (r.limit) limit = Eval(*r.limit).num();
    bool up = !step.IsNegative();
    // The variable takes the start value even when the start is already past
    // the limit; later values only when they are within it.
    Set(var, Value::Num(value));
    for (bool first = true;; first = false) {
      if (limit && (up ? Compare(value, *limit) > 0 : Compare(value, *limit) < 0)) break;
      if (!first) {
        // A defined plain local takes the number in place; anything else
        // (subscripted, killed by the body) is set the long way.
        Var* plain = !var.global && var.subs.empty() ? FastVar(var.sym, var.name) : nullptr;
        if (plain && plain->root)
          plain->root->SetNum(value);
        else
          Set(var, Value::Num(value));
      }
      Step();
      if (auto flow = body()) return *flow;
      // The body may have changed the variable: the next value counts from it.
      Value scratch;
      const Value* current = Peek(var, scratch);
      if (!current) Undefined(var);
      value = Add(current->num(), step);
    }
  }
  return Flow::Next;
}

std::string Interpreter::IndirectName(const Expr& text) {
  auto parsed = ParseNameText(Eval(text).str(), limits_.max_nesting);
  if (parsed->kind != ExprKind::Local || !parsed->args.empty()) Throw("SYNTAX");
  return parsed->name;
}

std::vector<std::string> Interpreter::KeptNames(const CmdArg& arg) {
  std::vector<std::string> names;
  for (const auto& t : arg.targets)
    names.push_back(t->kind == ExprKind::Indirect ? IndirectName(*t->args[0]) : t->name);
  return names;
}

void Interpreter::NewName(Frame& f, const std::string& name) {
  ++epoch_;
  if (&f == frames_.front().get()) {
    symtab_[name] = std::make_shared<Var>();
    return;
  }
  auto it = symtab_.find(name);
  f.saved.emplace_back(name, it != symtab_.end() ? it->second : nullptr);
  symtab_[name] = std::make_shared<Var>();
}

// The left side is evaluated first (subscripts, indirection, the arguments
// of $PIECE/$EXTRACT/$LIST, left to right), then the right side, then each
// place is assigned: the naked indicator and extrinsics that change
// variables see that order.
void Interpreter::ExecSet(const CmdArg& arg) {
  if (arg.indirect) {
    for (const auto& a : IndirectArgs(Cmd::Set, *arg.indirect)) ExecSet(a);
    return;
  }
  const Expr& e = *arg.expr;
  auto rhs = [&] {
    // Function calls and operators, the usual values, skip Eval's dispatch.
    return e.kind == ExprKind::Function ? CallFunction(e) : e.kind == ExprKind::Binary ? EvalBinary(e) : Eval(e);
  };
  if (arg.targets.size() == 1) {
    const Expr& t = *arg.targets.front();
    if (t.kind == ExprKind::Local && t.args.empty()) {
      // A plain local has nothing to evaluate on the left.
      if (e.kind == ExprKind::Binary && static_cast<Op>(e.op) == Op::Concat && AppendInPlace(arg)) return;
      Value v = rhs();
      Var* fast = FastVar(t.sym, t.name);
      Var& var = fast ? *fast : VarFor(t.name);
      var.root = std::move(v);
      return;
    }
    if (t.kind == ExprKind::Local) {
      std::string key = LocalKey(t);
      Value v = rhs();
      Var* fast = FastVar(t.sym, t.name);
      Var& var = fast ? *fast : VarFor(t.name);
      var.nodes.insert_or_assign(std::move(key), std::move(v));
      return;
    }
    SetPlace place = PrepareSet(t);
    AssignSet(place, rhs());
    return;
  }
  std::vector<SetPlace> places;
  places.reserve(arg.targets.size());
  for (const auto& t : arg.targets) places.push_back(PrepareSet(*t));
  Value v = rhs();
  for (auto& place : places) AssignSet(place, v);
}

Interpreter::SetPlace Interpreter::PrepareSet(const Expr& t) {
  SetPlace place;
  place.target = &t;
  switch (t.kind) {
    case ExprKind::Local:
      if (!t.args.empty()) place.local_key = LocalKey(t);
      break;
    case ExprKind::Global:
    case ExprKind::Indirect:
      place.ref = Resolve(t, Naked::Defer);
      break;
    case ExprKind::Special:
      break;
    case ExprKind::Function: {
      place.ref = Resolve(*t.args[0], Naked::Defer);
      auto fn = static_cast<Fn>(t.op);
      if (fn == Fn::Piece) {
        if (t.args.size() < 2) Throw("SYNTAX");
        place.delimiter = Eval(*t.args[1]).str();
        place.from = t.args.size() > 2 ? Eval(*t.args[2]).Int64() : 1;
        place.to = t.args.size() > 3 ? Eval(*t.args[3]).Int64() : place.from;
      } else if (fn == Fn::Extract) {
        place.from = t.args.size() > 1 ? Eval(*t.args[1]).Int64() : 1;
        place.to = t.args.size() > 2 ? Eval(*t.args[2]).Int64() : place.from;
      } else {
        place.from = t.args.size() > 1 ? Eval(*t.args[1]).Int64() : 1;
        if (place.from < 1) Throw("LIST");
      }
      break;
    }
    default:
      Throw("SYNTAX");
  }
  return place;
}

void Interpreter::AssignSet(SetPlace& place, Value v) {
  const Expr& t = *place.target;
  switch (t.kind) {
    case ExprKind::Local: {
      Var* fast = FastVar(t.sym, t.name);
      Var& var = fast ? *fast : VarFor(t.name);
      if (t.args.empty())
        var.root = std::move(v);
      else
        var.nodes.insert_or_assign(place.local_key, std::move(v));
      return;
    }
    case ExprKind::Special:
      SetSpecial(t, v);
      return;
    case ExprKind::Function: {
      auto fn = static_cast<Fn>(t.op);
      // An empty range of pieces or characters changes nothing, and leaves
      // an undefined variable undefined.
      if (fn != Fn::List && (place.to < place.from || place.to < 1)) return;
      ExpandNaked(place.ref);
      auto old = Get(place.ref);
      std::string s = old ? old->str() : std::string();
      std::string result;
      if (fn == Fn::Piece) {
        result = SetPiece(s, place.delimiter, place.from, place.to, v.str());
      } else if (fn == Fn::Extract) {
        result = SetExtract(s, place.from, place.to, v.str());
      } else {
        auto items = lists::Split(s);
        auto n = static_cast<std::size_t>(place.from);
        if (items.size() < n) items.resize(n);
        items[n - 1] = v;
        for (const auto& item : items) lists::Append(result, item ? &*item : nullptr);
      }
      CheckLength(result.size());
      v = Value::Str(std::move(result));
      break;
    }
    default:
      break;
  }
  // A global target is a reference when it is stored, after the right side
  // and the targets before it: a naked one is expanded against the naked
  // indicator as they left it, and the target becomes the indicator.
  ExpandNaked(place.ref);
  Set(place.ref, std::move(v));
  if (place.ref.global) NoteNaked(place.ref);
}

void Interpreter::ExecKill(Frame& f, const CmdArg& arg) {
  (void)f;
  if (arg.indirect) {
    for (const auto& a : IndirectArgs(Cmd::Kill, *arg.indirect)) ExecKill(f, a);
    return;
  }
  if (arg.exclusive) {
    ++epoch_;
    std::vector<std::string> kept = KeptNames(arg);
    for (auto it = symtab_.begin(); it != symtab_.end();) {
      bool keep = std::find(kept.begin(), kept.end(), it->first) != kept.end();
      if (!keep) {
        it->second->Clear();
        it = symtab_.erase(it);
      } else {
        ++it;
      }
    }
    return;
  }
  for (const auto& t : arg.targets) Kill(Resolve(*t));
}

void Interpreter::ExecNew(Frame& f, const CmdArg& arg) {
  if (arg.indirect) {
    for (const auto& a : IndirectArgs(Cmd::New, *arg.indirect)) ExecNew(f, a);
    return;
  }
  if (arg.exclusive) {
    ++epoch_;
    bool base = &f == frames_.front().get();
    std::vector<std::string> keep = KeptNames(arg);
    for (auto it = symtab_.begin(); it != symtab_.end();) {
      if (std::find(keep.begin(), keep.end(), it->first) != keep.end()) {
        ++it;
        continue;
      }
      if (!base) f.saved.emplace_back(it->first, it->second);
      it = symtab_.erase(it);
    }
    if (!base) {
      f.exclusive = true;
      f.keep = keep;
    }
    return;
  }
  for (const auto& t : arg.targets) {
    if (t->kind == ExprKind::Special) {
      NewSpecial(f, *t);
      continue;
    }
    if (t->kind != ExprKind::Local || !t->args.empty()) Throw("SYNTAX");
    NewName(f, t->name);
  }
}

// NEW $ETRAP keeps the value and restores it when the frame ends; NEW
// $ESTACK makes $ESTACK count from this level. Other special variables have
// nothing to save.
void Interpreter::NewSpecial(Frame& f, const Expr& e) {
  const bool base = &f == frames_.front().get();
  switch (static_cast<Sv>(e.op)) {
    case Sv::ETrap:
      if (!base && !f.saved_etrap) f.saved_etrap = etrap_;
      return;
    case Sv::EStack:
      if (!base && !f.saved_estack_base) f.saved_estack_base = estack_base_;
      estack_base_ = static_cast<int>(StackLevel());
      return;
    default:
      return;
  }
}

std::string Interpreter::LockKey(const Ref& r) const {
  std::string key = keycodec::EncodeName(r.global ? "^" + r.name : r.name);
  for (const auto& s : r.subs) {
    if (s.str().empty()) Throw("SUBSCRIPT");
    keycodec::AppendSubscript(key, s.str());
  }
  return key;
}

void Interpreter::ExecLock(const Command& c) {
  if (c.argless) {
    host_.Locks().ReleaseAll(job_);
    return;
  }
  auto one = [&](auto& self, const CmdArg& a) -> void {
    if (a.indirect) {  // the text may hold further indirection
      for (const auto& ia : IndirectArgs(Cmd::Lock, *a.indirect)) self(self, ia);
      return;
    }
    std::vector<std::string> resources;
    for (const auto& t : a.targets) {
      Ref r = Resolve(*t, Naked::Keep);  // LOCK names resources: the naked indicator stays
      resources.push_back(LockResource(r.global ? r.ns : ns_, LockKey(r)));
    }
    if (a.lock_mode == '-') {
      for (const auto& res : resources) host_.Locks().Release(job_, res);
      return;
    }
    if (a.lock_mode == 0) host_.Locks().ReleaseAll(job_);
    std::chrono::milliseconds timeout{-1};
    if (a.timeout) timeout = Seconds(Eval(*a.timeout));
    bool ok = host_.Locks().Acquire(job_, resources, timeout, [this] { return Cancelled(); });
    if (!ok && Cancelled()) throw MError{"INTERRUPT", {}, true, false};
    if (a.timeout) test_ = ok;
  };
  for (const auto& a : c.args) one(one, a);
}

void Interpreter::Write(std::string_view text) {
  if (output_) output_->Write(text);
  for (char ch : text) {
    if (ch == '\r') {
      x_ = 0;
    } else if (ch == '\n') {
      ++y_;
    } else if (ch == '\f') {
      x_ = y_ = 0;
    } else {
      ++x_;
    }
  }
}

void Interpreter::ExecWrite(const CmdArg& a) {
  if (a.indirect) {
    for (const auto& ia : IndirectArgs(Cmd::Write, *a.indirect)) ExecWrite(ia);
    return;
  }
  for (char f : a.formats) {
    if (f == '!') {
      Write("\r\n");
      x_ = 0;
    } else {
      Write("\f");
    }
  }
  if (!a.expr) return;
  switch (a.format) {
    case '?': {
      std::int64_t col = Eval(*a.expr).Int64();
      if (col > x_) {
        if (col - x_ > static_cast<std::int64_t>(limits_.max_string)) Throw("MAXSTRING");
        Write(std::string(static_cast<std::size_t>(col - x_), ' '));
      }
      return;
    }
    case '*': {
      std::int64_t code = Eval(*a.expr).Int64();
      if (code >= 0 && code <= 255) {
        char ch = static_cast<char>(code);
        if (output_) output_->Write(std::string_view(&ch, 1));
      }
      return;
    }
    default:
      Write(Eval(*a.expr).str());
  }
}

void Interpreter::ExecRead(const CmdArg& a) {
  if (a.indirect) {
    for (const auto& ia : IndirectArgs(Cmd::Read, *a.indirect)) ExecRead(ia);
    return;
  }
  if (a.targets.empty()) {  // formats, ?column and prompts are written
    ExecWrite(a);
    return;
  }
  Ref target = Resolve(*a.targets.front());
  std::size_t max = limits_.max_string;
  if (a.length) {
    std::int64_t n = Eval(*a.length).Int64();
    if (n < 1) Throw("SYNTAX");
    max = std::min(max, static_cast<std::size_t>(n));
  }
  if (a.format == '*') max = 1;
  std::chrono::milliseconds timeout{-1};
  if (a.timeout) timeout = Seconds(Eval(*a.timeout));
  InputSource::Input in = input_->Read(max, a.format != '*', timeout, [this] { return Cancelled(); });
  if (Cancelled()) throw MError{"INTERRUPT", {}, true, false};
  if (in.at_end && in.text.empty() && !in.timed_out) Throw("ENDOFFILE");
  if (a.format == '*')
    Set(target, Value::Int(in.text.empty() ? -1 : static_cast<unsigned char>(in.text[0])));
  else
    Set(target, Value::Str(std::move(in.text)));
  if (target.global) NoteNaked(target);
  if (a.timeout) test_ = !in.timed_out;
  if (a.format != '*' && !in.timed_out) x_ = 0;  // after the line end typed
}

void Interpreter::CollectTree(const Ref& r, std::vector<std::pair<std::string, Value>>& out) {
  std::string key = Key(r, true);
  if (!r.global) {
    Var* v = FindVar(r.name);
    if (!v) return;
    if (r.subs.empty() && v->root) out.emplace_back(std::string(), *v->root);
    for (auto it = v->nodes.lower_bound(key); it != v->nodes.end() && tree::StartsWith(it->first, key); ++it)
      out.emplace_back(it->first.substr(key.size()), it->second);
    return;
  }
  GlobalStore& store = Store(r);
  if (auto v = store.Get(key)) out.emplace_back(std::string(), Value::Str(*v));
  std::string at = key;
  for (;;) {
    auto next = store.Query(at, false);
    if (!next || !tree::StartsWith(*next, key)) break;
    auto v = store.Get(*next);
    if (v) out.emplace_back(next->substr(key.size()), Value::Str(*v));
    at = *next;
    Step();
  }
}

void Interpreter::ExecZWrite(const CmdArg* arg) {
  auto emit = [&](bool global, const std::string& name, const std::string& key, const Value& v) {
    Write(FormatKey(global, name, key) + "=" + ZWriteValue(v));
    Write("\r\n");
    x_ = 0;
  };
  if (!arg) {
    std::vector<std::string> names;
    for (const auto& [name, var] : symtab_)
      if (!var->Empty()) names.push_back(name);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
      const Var& var = *symtab_[name];
      if (var.root) emit(false, name, std::string(), *var.root);
      for (const auto& [key, value] : var.nodes) emit(false, name, key.substr(1), value);
    }
    return;
  }
  if (arg->indirect) {
    for (const auto& ia : IndirectArgs(Cmd::ZWrite, *arg->indirect)) ExecZWrite(&ia);
    return;
  }
  for (const auto& t : arg->targets) {
    Ref r = Resolve(*t);
    std::vector<std::pair<std::string, Value>> nodes;
    CollectTree(r, nodes);
    std::string key = Key(r, true);
    for (const auto& [suffix, value] : nodes) {
      std::string full = key + suffix;
      emit(r.global, r.name, full.substr(r.global ? keycodec::NameLength(full) : 1), value);
    }
  }
}

void Interpreter::ExecMerge(const CmdArg& a) {
  if (a.indirect) {
    for (const auto& ia : IndirectArgs(Cmd::Merge, *a.indirect)) ExecMerge(ia);
    return;
  }
  // The source is referred to first; the target, as in SET, when it is
  // stored, and it is then the naked indicator.
  Ref target = Resolve(*a.targets.front(), Naked::Defer);
  Ref source = Resolve(*a.expr);
  ExpandNaked(target);
  if (target.global) NoteNaked(target);
  std::string tkey = Key(target), skey = Key(source);
  if (target.global == source.global && target.name == source.name && target.ns == source.ns) {
    if (tkey == skey) return;
    if (tree::StartsWith(tkey, skey) || tree::StartsWith(skey, tkey)) Throw("MERGE");
    if (target.global) {
      BeforeUpdate(target, tkey, true);
      Store(target).Merge(tkey, skey);
      return;
    }
  }
  std::vector<std::pair<std::string, Value>> nodes;
  CollectTree(source, nodes);
  if (target.global) {
    GlobalStore& store = Store(target);
    BeforeUpdate(target, tkey, true);
    for (const auto& [suffix, value] : nodes) {
      std::string k = tkey + suffix;
      if (k.size() > keycodec::kMaxGlobalKeyBytes) Throw("SUBSCRIPT");
      store.Set(k, value.str());
    }
  } else {
    Var& v = VarFor(target.name);
    for (const auto& [suffix, value] : nodes) {
      std::string k = tkey + suffix;
      if (k.size() == 1)
        v.root = value;
      else
        v.nodes.insert_or_assign(std::move(k), value);
    }
  }
}

void Interpreter::ExecJob(Frame& f, const CmdArg& a) {
  if (a.indirect) {
    for (const auto& ia : IndirectArgs(Cmd::Job, *a.indirect)) ExecJob(f, ia);
    return;
  }
  const EntryRef& e = *a.entry;
  Target t = ResolveEntry(f, e);  // the routine and label must exist
  JobRequest req;
  req.ns = ns_;
  req.routine = t.routine->name;
  req.label = e.label_indirect ? Eval(*e.label_indirect).str() : e.label;
  req.offset = e.offset ? static_cast<int>(Eval(*e.offset).Int64()) : 0;
  for (const auto& act : e.actuals) {
    if (act.by_ref) Throw("SYNTAX");
    req.args.push_back(act.omitted ? std::string() : Eval(*act.expr).str());
  }
  req.parent_job = job_;
  std::chrono::milliseconds timeout{-1};
  if (a.timeout) timeout = Seconds(Eval(*a.timeout));
  bool ok = host_.StartJob(req, timeout);
  if (a.timeout) test_ = ok;
}

void Interpreter::Hang(const Number& seconds) {
  const std::chrono::milliseconds total = WaitTime(seconds);
  if (total.count() <= 0) return;
  auto end = std::chrono::steady_clock::now() + total;
  for (;;) {
    if (Cancelled()) throw MError{"INTERRUPT", {}, true, false};
    auto now = std::chrono::steady_clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(20)));
  }
}

int Interpreter::BufferLine(const EntryRef& e) {
  const auto& lines = buffer_.lines();
  int line = 0;  // 1-based
  if (!e.label.empty()) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string& l = lines[i];
      std::size_t n = 0;
      while (n < l.size() && l[n] != ' ' && l[n] != '\t' && l[n] != '(' && l[n] != ';') ++n;
      if (l.compare(0, n, e.label) == 0 && n == e.label.size()) {
        line = static_cast<int>(i) + 1;
        break;
      }
    }
    if (line == 0) Throw("NOLINE", "*" + e.label);
  }
  if (e.offset) line += static_cast<int>(std::clamp<std::int64_t>(Eval(*e.offset).Int64(), -1000000, 1000000));
  return line;
}

void Interpreter::ExecRoutineCommand(const Command& c) {
  auto store_for = [&](const std::string& name) -> RoutineStore& {
    RoutineStore* store = host_.Routines(!name.empty() && name[0] == '%' ? "%SYS" : ns_);
    if (!store) Throw("NAMESPACE");
    return *store;
  };
  auto name_of = [&](const CmdArg& a) {
    std::string name = Eval(a.indirect ? *a.indirect : *a.expr).str();
    return name;
  };
  switch (c.kind) {
    case Cmd::ZLoad: {
      std::string name = name_of(c.args.front());
      auto image = store_for(name).Load(name);
      if (!image) Throw("NOROUTINE", "*" + name);
      buffer_.Load(name, image->source);
      return;
    }
    case Cmd::ZRemove: {
      if (c.argless) {
        buffer_.Clear();
        return;
      }
      for (const auto& a : c.args) {
        int first = BufferLine(*a.entry);
        int last = a.ranges.empty() ? first : BufferLine(*a.ranges.front().start->entry);
        buffer_.Remove(first, last);
      }
      return;
    }
    case Cmd::ZInsert: {
      for (const auto& a : c.args) {
        std::string text = Eval(*a.expr).str();
        CheckLength(text.size());
        if (a.entry)
          buffer_.InsertAfter(BufferLine(*a.entry), std::move(text));
        else
          buffer_.Insert(std::move(text));
      }
      return;
    }
    case Cmd::ZSave: {
      std::string name = c.argless ? buffer_.name() : name_of(c.args.front());
      if (name.empty()) Throw("SYNTAX");
      // "%" routines are the system's and the libraries': they are saved from
      // the namespaces whose routine database holds them.
      if (name[0] == '%' && ns_ != "%SYS" && ns_ != "%CACHELIB") Throw("PROTECT", "*" + name);
      for (char ch : name)
        if (!(Lexer::IsAlpha(ch) || Lexer::IsDigit(ch) || ch == '%' || ch == '.')) Throw("SYNTAX", "*" + name);
      std::vector<std::string> lines = buffer_.lines();
      std::string compiled = CompileRoutine(name, lines);
      store_for(name).Save(name, std::move(lines), std::move(compiled));
      buffer_.set_name(name);
      return;
    }
    case Cmd::ZPrint: {
      const auto& lines = buffer_.lines();
      int first = 1, last = static_cast<int>(lines.size());
      if (!c.argless) {
        const CmdArg& a = c.args.front();
        first = BufferLine(*a.entry);
        last = a.ranges.empty() ? first : BufferLine(*a.ranges.front().start->entry);
      }
      for (int i = std::max(first, 1); i <= last && i <= static_cast<int>(lines.size()); ++i) {
        Write(lines[static_cast<std::size_t>(i - 1)]);
        Write("\r\n");
        x_ = 0;
      }
      return;
    }
    default:
      return;
  }
}

// XECUTE of one argument; argument indirection runs each argument of the
// text in turn.
void Interpreter::Xecute(Frame& f, const CmdArg& a) {
  if (a.postcond && !Eval(*a.postcond).truth()) return;
  if (a.indirect) {
    for (const auto& ia : IndirectArgs(Cmd::Xecute, *a.indirect)) Xecute(f, ia);
    return;
  }
  std::string text = Eval(*a.expr).str();
  if (static_cast<int>(frames_.size()) > limits_.max_stack) Throw("FRAMESTACK");
  CheckStack();
  auto parsed = ParseXecute(text);
  auto nf = std::make_unique<Frame>();
  nf->routine = f.routine;
  nf->xline = parsed;
  nf->xecute = true;
  nf->ztrap = f.ztrap;
  nf->line = f.line;
  FrameScope scope(*this, std::move(nf));
  RunFrame(scope.frame());
  if (quit_value_) Throw("COMMAND");
}

// DO @x: each argument the text holds, following further indirection.
void Interpreter::DoIndirect(Frame& f, const Expr& text) {
  for (const auto& ia : IndirectArgs(Cmd::Do, text)) {
    if (ia.postcond && !Eval(*ia.postcond).truth()) continue;
    if (ia.indirect)
      DoIndirect(f, *ia.indirect);
    else
      Call(f, *ia.entry, false);
  }
}

Flow Interpreter::ExecCommand(Frame& f, const Line& line, std::size_t index) {
  const Command& c = line.commands[index];
  switch (c.kind) {
    case Cmd::Set:
      for (const auto& a : c.args) ExecSet(a);
      return Flow::Next;
    case Cmd::Write:
      for (const auto& a : c.args) ExecWrite(a);
      return Flow::Next;
    case Cmd::Kill:
      if (c.argless) {
        for (auto& [name, var] : symtab_) var->Clear();
        symtab_.clear();
        ++epoch_;
        return Flow::Next;
      }
      for (const auto& a : c.args) ExecKill(f, a);
      return Flow::Next;
    case Cmd::New:
      if (c.argless) {
        CmdArg all;
        all.exclusive = true;
        ExecNew(f, all);
        return Flow::Next;
      }
      for (const auto& a : c.args) ExecNew(f, a);
      return Flow::Next;
    case Cmd::Quit:
      if (c.argless) {
        quit_value_.reset();
      } else {
        quit_value_ = ArgValue(Cmd::Quit, c.args.front());
      }
      return Flow::Quit;
    case Cmd::Do: {
      if (c.argless) {
        if (!f.routine || f.xline) return Flow::Next;
        if (static_cast<int>(frames_.size()) > limits_.max_stack) Throw("FRAMESTACK");
        auto nf = std::make_unique<Frame>();
        nf->routine = f.routine;
        nf->line = f.line + 1;
        nf->level = line.level + 1;
        nf->ztrap = f.ztrap;
        nf->restore_test = true;
        nf->saved_test = test_;
        // The block's frame keeps $TEST (restored when it ends).
        FrameScope scope(*this, std::move(nf));
        RunFrame(scope.frame());
        if (quit_value_) Throw("COMMAND");
        return Flow::Next;
      }
      for (const auto& a : c.args) {
        if (a.indirect) {
          DoIndirect(f, *a.indirect);
          if (a.postcond && !Eval(*a.postcond).truth()) continue;
          continue;
        }
        if (a.postcond && !Eval(*a.postcond).truth()) continue;
        Call(f, *a.entry, false);
      }
      return Flow::Next;
    }
    case Cmd::Goto: {
      for (const auto& a : c.args) {
        // Argument indirection is followed to the end (@x may hold "@y").
        const CmdArg* arg = &a;
        std::vector<IndirectList> holders;
        while (arg->indirect) {
          holders.push_back(IndirectArgs(Cmd::Goto, *arg->indirect));
          arg = &holders.back().front();
        }
        if (a.postcond && !Eval(*a.postcond).truth()) continue;
        if (arg != &a && arg->postcond && !Eval(*arg->postcond).truth()) continue;
        Target t = ResolveEntry(f, *arg->entry);
        f.routine = t.routine;
        f.line = t.line;
        if (!f.blocks.empty()) LeaveBlocksForGoto(f);
        return Flow::Goto;
      }
      return Flow::Next;
    }
    case Cmd::Throw:
      ExecThrow(c.args.front());
      return Flow::Next;
    case Cmd::Halt:
      throw HaltSignal{};
    case Cmd::Hang:
      for (const auto& a : c.args) Hang(ArgValue(Cmd::Hang, a).num());
      return Flow::Next;
    case Cmd::Job:
      for (const auto& a : c.args) ExecJob(f, a);
      return Flow::Next;
    case Cmd::Lock:
      ExecLock(c);
      return Flow::Next;
    case Cmd::Merge:
      for (const auto& a : c.args) ExecMerge(a);
      return Flow::Next;
    case Cmd::Xecute: {
      for (const auto& a : c.args) Xecute(f, a);
      return Flow::Next;
    }
    case Cmd::ZNspace: {
      std::string ns = ArgValue(Cmd::ZNspace, c.args.front()).str();
      if (!SetNamespace(ns)) Throw("NAMESPACE", "*" + ns);
      return Flow::Next;
    }
    case Cmd::ZWrite:
      if (c.argless) {
        ExecZWrite(nullptr);
      } else {
        for (const auto& a : c.args) ExecZWrite(&a);
      }
      return Flow::Next;
    case Cmd::ZLoad:
    case Cmd::ZRemove:
    case Cmd::ZInsert:
    case Cmd::ZSave:
    case Cmd::ZPrint:
      ExecRoutineCommand(c);
      return Flow::Next;
    case Cmd::Read:
      if (!input_) Throw("NOTOPEN", "*READ: this process has no terminal");
      for (const auto& a : c.args) ExecRead(a);
      return Flow::Next;
    case Cmd::Open:
    case Cmd::Use:
    case Cmd::Close:
      for (const auto& a : c.args)
        if (a.expr) Eval(*a.expr);
      return Flow::Next;
    case Cmd::TStart:
      if (c.args.size() > 1) Throw("SYNTAX");
      ExecTStart(f, c.argless ? nullptr : &c.args.front(), index);
      return Flow::Next;
    case Cmd::TRestart:
      TRestart();
    case Cmd::TCommit:
      TCommit();
      return Flow::Next;
    case Cmd::TRollback: {
      if (c.argless) {
        TRollback(false);
        return Flow::Next;
      }
      // TROLLBACK 1 undoes the current level; any other value all of them.
      Value levels = ArgValue(Cmd::TRollback, c.args.front());
      TRollback(levels.num().ToInt64() == 1);
      return Flow::Next;
    }
    case Cmd::ZTrap:
      if (c.argless) Throw("ZTRAP");
      Throw("Z" + ArgValue(Cmd::ZTrap, c.args.front()).str());
    default:
      return Flow::Next;  // BREAK, VIEW, ZBREAK, transaction commands: no effect here
  }
}

}  // namespace mengine
