// Expression evaluation and variable access (locals and globals).
#include <algorithm>

#include "depth.h"
#include "interpreter.h"
#include "mengine/keycodec.h"
#include "names.h"
#include "parser.h"
#include "pattern.h"

namespace mengine {

namespace {

// The nodes of a "%" routine in the routine globals (^ROUTINE("%X"),
// ^rOBJ("%X"), ^rMAC("%X")) live with the routine itself in %SYS, as the
// routine's own lines do, whichever namespace names them.
bool IsSystemRoutineNode(const std::string& global, const std::vector<Value>& subs) {
  if (subs.empty() || (global != "ROUTINE" && global != "rOBJ" && global != "rMAC")) return false;
  const std::string& first = subs.front().str();
  return !first.empty() && first[0] == '%';
}

}  // namespace
namespace {

const std::string kRootKey(1, '\0');

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"')
      out += "\"\"";
    else
      out.push_back(c);
  }
  out.push_back('"');
  return out;
}

}  // namespace

// ---- variables ----

Var* Interpreter::FindVar(const std::string& name) const {
  auto it = symtab_.find(name);
  return it == symtab_.end() ? nullptr : it->second.get();
}

Var& Interpreter::VarFor(const std::string& name) {
  auto& slot = symtab_[name];
  if (!slot) {
    slot = std::make_shared<Var>();
    ++epoch_;
  }
  return *slot;
}

Var* Interpreter::FastVarSlow(std::uint32_t sym, const std::string& name) {
  if (sym == 0) return FindVar(name);
  if (sym >= fast_.size()) fast_.resize(sym + 64);
  FastSlot& slot = fast_[sym];
  if (slot.epoch == epoch_) return slot.var;
  slot.var = FindVar(name);
  slot.epoch = epoch_;
  return slot.var;
}

Ref Interpreter::Resolve(const Expr& e, Naked naked) {
  Ref r;
  switch (e.kind) {
    case ExprKind::Local:
      r.name = e.name;
      r.sym = e.sym;
      r.subs.reserve(e.args.size());
      for (const auto& a : e.args) r.subs.push_back(Eval(*a));
      return r;
    case ExprKind::Global: {
      r.global = true;
      if (e.entry && e.entry->label_indirect) {
        r.ns = Eval(*e.entry->label_indirect).str();
        if (!host_.Globals(r.ns)) Throw("NAMESPACE", "*" + r.ns);
      }
      std::vector<Value> subs;
      subs.reserve(e.args.size());
      for (const auto& a : e.args) subs.push_back(Eval(*a));
      r.subs = std::move(subs);
      if (e.name.empty()) {
        r.naked = true;
        if (naked == Naked::Defer) return r;
        ExpandNaked(r);
      } else {
        r.name = e.name;
        if (r.ns.empty()) r.ns = e.name[0] == '%' || IsSystemRoutineNode(e.name, r.subs) ? "%SYS" : ns_;
      }
      if (naked == Naked::Note) NoteNaked(r);
      return r;
    }
    case ExprKind::Indirect: {
      DepthGuard guard(indirection_depth_, limits_.max_indirection, "SYNTAX");
      std::string text = Eval(*e.args[0]).str();
      std::shared_ptr<const Expr> parsed;
      auto it = name_cache_.find(text);
      if (it != name_cache_.end() && IsReference(*it->second)) {
        parsed = it->second;
      } else {
        parsed = ParseNameText(text, limits_.max_nesting);
        if (name_cache_.size() > 256) name_cache_.clear();
        name_cache_.insert_or_assign(text, parsed);
      }
      Ref inner = Resolve(*parsed, naked);
      if (e.subscript_indirect) {
        for (std::size_t i = 1; i < e.args.size(); ++i) inner.subs.push_back(Eval(*e.args[i]));
        if (inner.global && naked == Naked::Note) {
          naked_valid_ = !inner.subs.empty();
          naked_subs_ = inner.subs;
        }
      }
      return inner;
    }
    default:
      Throw("SYNTAX");
  }
}

void Interpreter::ExpandNaked(Ref& r) {
  if (!r.naked) return;
  if (!naked_valid_) Throw("NAKED");
  std::vector<Value> subs = naked_subs_;
  subs.pop_back();
  for (auto& s : r.subs) subs.push_back(std::move(s));
  r.subs = std::move(subs);
  r.name = naked_name_;
  r.ns = naked_ns_;
  r.naked = false;
}

void Interpreter::AppendSubscript(std::string& key, const Value& v) {
  if (v.IsNumberOnly()) {
    // A computed number is canonical: encode it without making its string.
    const Number& n = v.num();
    if (n.IsZero()) {
      keycodec::AppendSubscript(key, "0");
      return;
    }
    std::uint64_t mag = n.mant < 0 ? static_cast<std::uint64_t>(-n.mant) : static_cast<std::uint64_t>(n.mant);
    char digits[24];
    int count = 0;
    while (mag > 0) {
      digits[count++] = static_cast<char>('0' + mag % 10);
      mag /= 10;
    }
    std::string text(digits, static_cast<std::size_t>(count));
    std::reverse(text.begin(), text.end());
    int exponent = n.exp + count;
    while (!text.empty() && text.back() == '0') text.pop_back();
    keycodec::AppendNumberSubscript(key, n.IsNegative(), text, exponent);
    return;
  }
  keycodec::AppendSubscript(key, v.str());
}

std::string Interpreter::LocalKey(const Expr& e) {
  std::string key = kRootKey;
  for (const auto& a : e.args) {
    Value scratch;
    const Value& v = EvalRef(*a, scratch);
    if (!v.IsNumberOnly() && v.str().empty()) (void)Key(Resolve(e));  // <SUBSCRIPT>
    AppendSubscript(key, v);
  }
  return key;
}

std::string Interpreter::Key(const Ref& r, bool check_empty) const {
  std::string key = r.global ? keycodec::EncodeName(r.name) : kRootKey;
  for (std::size_t i = 0; i < r.subs.size(); ++i) {
    const std::string& s = r.subs[i].str();
    if (s.empty() && (check_empty || i + 1 < r.subs.size())) Throw("SUBSCRIPT", "*" + FormatName(r));
    AppendSubscript(key, r.subs[i]);
  }
  if (r.global && key.size() > keycodec::kMaxGlobalKeyBytes) Throw("SUBSCRIPT", "*" + FormatName(r));
  return key;
}

GlobalStore& Interpreter::Store(const Ref& r) {
  GlobalStore* store = host_.Globals(r.ns);
  if (!store) Throw("NAMESPACE", "*" + r.ns);
  return *store;
}

std::optional<Value> Interpreter::Get(const Ref& r) {
  if (!r.global) {
    Var* v = FastVar(r.sym, r.name);
    if (!v) return std::nullopt;
    if (r.subs.empty()) return v->root;
    auto it = v->nodes.find(Key(r));
    if (it == v->nodes.end()) return std::nullopt;
    return it->second;
  }
  auto s = Store(r).Get(Key(r));
  if (!s) return std::nullopt;
  return Value::Str(std::move(*s));
}

const Value* Interpreter::PeekSlow(const Ref& r, Value& scratch) {
  auto v = Get(r);
  if (!v) return nullptr;
  scratch = std::move(*v);
  return &scratch;
}

void Interpreter::Set(const Ref& r, Value v) {
  if (!r.global) {
    Var* fast = FastVar(r.sym, r.name);
    Var& var = fast ? *fast : VarFor(r.name);
    if (r.subs.empty())
      var.root = std::move(v);
    else
      var.nodes.insert_or_assign(Key(r), std::move(v));
    return;
  }
  GlobalStore& store = Store(r);
  std::string key = Key(r);
  BeforeUpdate(r, key, false);
  store.Set(key, v.str());
}

void Interpreter::Kill(const Ref& r) {
  if (!r.global) {
    Var* v = FindVar(r.name);
    if (!v) return;
    if (r.subs.empty())
      v->Clear();
    else
      tree::Kill(v->nodes, Key(r));
    return;
  }
  GlobalStore& store = Store(r);
  std::string key = Key(r);
  BeforeUpdate(r, key, true);
  store.Kill(key);
}

int Interpreter::Data(const Ref& r) {
  if (!r.global) {
    Var* v = FindVar(r.name);
    if (!v) return 0;
    if (r.subs.empty()) return (v->root ? 1 : 0) + (v->nodes.empty() ? 0 : 10);
    return tree::Data(v->nodes, Key(r));
  }
  return Store(r).Data(Key(r));
}

std::optional<Value> Interpreter::Order(const Ref& r, bool reverse) {
  if (r.subs.empty()) {
    if (r.global) return std::nullopt;
    // $ORDER of an unsubscripted local: the next defined variable name.
    std::vector<std::string> names;
    for (const auto& [name, var] : symtab_)
      if (!var->Empty()) names.push_back(name);
    std::sort(names.begin(), names.end());
    if (!reverse) {
      auto it = std::upper_bound(names.begin(), names.end(), r.name);
      if (it == names.end()) return std::nullopt;
      return Value::Str(*it);
    }
    auto it = std::lower_bound(names.begin(), names.end(), r.name);
    if (it == names.begin()) return std::nullopt;
    return Value::Str(*--it);
  }
  Ref parent = r;
  parent.subs.pop_back();
  std::string pkey = Key(parent);
  std::string after;
  const std::string& last = r.subs.back().str();
  if (!last.empty()) keycodec::AppendSubscript(after, last);
  std::optional<std::string> found;
  if (!r.global) {
    Var* v = FindVar(r.name);
    if (!v) return std::nullopt;
    found = tree::Order(v->nodes, pkey, after, reverse);
  } else {
    found = Store(r).Order(pkey, after, reverse);
  }
  if (!found) return std::nullopt;
  auto sub = keycodec::DecodeSubscript(*found, 0);
  if (!sub) return std::nullopt;
  return Value::Str(std::move(*sub));
}

std::optional<std::string> Interpreter::QueryRef(const Ref& r, bool reverse) {
  Ref from = r;
  if (!from.subs.empty() && from.subs.back().str().empty()) from.subs.pop_back();
  std::string key = Key(from);
  if (!r.global) {
    Var* v = FindVar(r.name);
    if (!v) return std::nullopt;
    auto found = tree::Query(v->nodes, key, reverse);
    if (!found) return std::nullopt;
    return FormatKey(false, r.name, found->substr(1));
  }
  auto found = Store(r).Query(key, reverse);
  if (!found) return std::nullopt;
  return FormatKey(true, r.name, found->substr(keycodec::NameLength(*found)));
}

std::string Interpreter::FormatKey(bool global, const std::string& name, std::string_view subs) const {
  std::string out = global ? "^" + name : name;
  std::size_t pos = 0;
  bool first = true;
  while (pos < subs.size()) {
    std::size_t len = keycodec::SubscriptLength(subs, pos);
    auto sub = keycodec::DecodeSubscript(subs, pos);
    if (!len || !sub) break;
    out += first ? "(" : ",";
    first = false;
    out += keycodec::IsCanonicalNumber(*sub) ? *sub : Quote(*sub);
    pos += len;
  }
  if (!first) out += ")";
  return out;
}

std::string Interpreter::FormatName(const Ref& r) const {
  std::string out = r.global ? "^" + r.name : r.name;
  for (std::size_t i = 0; i < r.subs.size(); ++i) {
    out += i ? "," : "(";
    const std::string& s = r.subs[i].str();
    out += r.subs[i].IsCanonicalNumber() ? s : Quote(s);
  }
  if (!r.subs.empty()) out += ")";
  return out;
}

void Interpreter::Undefined(const Ref& r) const { Throw("UNDEFINED", "*" + FormatName(r)); }

int Interpreter::Collate(const Value& a, const Value& b) {
  // The empty string collates before every number and string.
  bool ea = a.str().empty(), eb = b.str().empty();
  if (ea || eb) return ea == eb ? 0 : ea ? -1 : 1;
  bool na = a.IsCanonicalNumber(), nb = b.IsCanonicalNumber();
  if (na && nb) return Compare(a.num(), b.num());
  if (na != nb) return na ? -1 : 1;
  int c = a.str().compare(b.str());
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string Interpreter::ZWriteValue(const Value& v) const {
  if (v.IsCanonicalNumber()) return v.str();
  const std::string& s = v.str();
  std::string out;
  bool in_quote = false;
  for (unsigned char c : s) {
    if (c < 32 || c == 127) {
      if (in_quote)
        out += "\"_";
      else if (!out.empty())
        out += "_";
      in_quote = false;
      out += "$c(" + std::to_string(c) + ")";
    } else {
      if (!in_quote) {
        if (!out.empty()) out += "_";
        out += "\"";
        in_quote = true;
      }
      if (c == '"')
        out += "\"\"";
      else
        out.push_back(static_cast<char>(c));
    }
  }
  if (in_quote) out += "\"";
  if (out.empty()) out = "\"\"";
  return out;
}

// ---- expressions ----

// The dispatch stays small (its entry and exit are paid on every
// evaluation); the heavier kinds have functions of their own.
Value Interpreter::Eval(const Expr& e) {
  switch (e.kind) {
    case ExprKind::Literal:
      return e.literal;
    case ExprKind::Local:
      if (e.args.empty()) {
        if (const Value* v = PlainLocal(e)) return *v;
        Throw("UNDEFINED", "*" + e.name);
      }
      return EvalSubscripted(e);
    case ExprKind::Global:
      return EvalReference(e);
    case ExprKind::Indirect:
      return e.subscript_indirect ? EvalReference(e) : EvalIndirect(e);
    case ExprKind::Special:
      return Special(e);
    case ExprKind::Function:
      return CallFunction(e);
    case ExprKind::Extrinsic:
      return EvalExtrinsic(e);
    case ExprKind::Unary:
      return EvalUnary(e);
    case ExprKind::Binary:
      return EvalBinary(e);
    case ExprKind::PatternMatch:
      return EvalPattern(e);
    case ExprKind::Property:
      return EvalProperty(e);
  }
  Throw("SYNTAX");
}

Value Interpreter::EvalSubscripted(const Expr& e) {
  std::string key = LocalKey(e);
  Var* v = FastVar(e.sym, e.name);
  if (v) {
    auto it = v->nodes.find(key);
    if (it != v->nodes.end()) return it->second;
  }
  Undefined(Resolve(e));
}

// A global, or a name with subscript indirection (@x@(subs)).
Value Interpreter::EvalReference(const Expr& e) {
  Ref r = Resolve(e);
  auto v = Get(r);
  if (!v) Undefined(r);
  return std::move(*v);
}

// @x in a value position may name a variable or hold any atom.
Value Interpreter::EvalIndirect(const Expr& e) {
  DepthGuard guard(indirection_depth_, limits_.max_indirection, "SYNTAX");
  std::string text = Eval(*e.args[0]).str();
  std::shared_ptr<const Expr> parsed;
  auto it = name_cache_.find(text);
  if (it != name_cache_.end()) {
    parsed = it->second;
  } else {
    try {
      parsed = ParseNameText(text, limits_.max_nesting);
    } catch (const MError&) {
      parsed = ParseExpressionText(text, limits_.max_nesting);
    }
    if (name_cache_.size() > 256) name_cache_.clear();
    name_cache_.emplace(text, parsed);
  }
  return Eval(*parsed);
}

Value Interpreter::EvalExtrinsic(const Expr& e) {
  auto v = Call(Top(), *e.entry, true);
  return v ? std::move(*v) : Value();
}

Value Interpreter::EvalUnary(const Expr& e) {
  Value v = Eval(*e.args[0]);
  switch (static_cast<Op>(e.op)) {
    case Op::Plus:
      return Value::Num(v.num());
    case Op::Minus:
      return Value::Num(Negate(v.num()));
    default:
      return Value::Bool(!v.truth());
  }
}

Value Interpreter::EvalPattern(const Expr& e) {
  Value subject = Eval(*e.args[0]);
  bool match;
  if (e.pattern) {
    match = MatchPattern(*e.pattern, subject.str(), limits_.max_pattern_work);
  } else {
    auto p = ParsePatternText(Eval(*e.args[1]).str(), limits_.max_nesting);
    match = MatchPattern(*p, subject.str(), limits_.max_pattern_work);
  }
  return Value::Bool(match != e.negated);
}

Value Interpreter::EvalBinary(const Expr& e) {
  CheckStack();
  auto op = static_cast<Op>(e.op);
  if (op == Op::AndThen || op == Op::OrElse) {
    // && and || stop as soon as the left side decides.
    bool left = Eval(*e.args[0]).truth();
    if (op == Op::AndThen ? !left : left) return Value::Bool(left);
    return Value::Bool(Eval(*e.args[1]).truth());
  }
  if ((op == Op::Concat || op == Op::Equal || op == Op::Contains || op == Op::Follows) && Pure(*e.args[1])) {
    // String operators read a plain variable in place rather than copying it.
    Value sa, sb;
    const Value& a = EvalRef(*e.args[0], sa);
    const Value& b = EvalRef(*e.args[1], sb);
    const std::string& x = a.str();
    const std::string& y = b.str();
    bool r = false;
    switch (op) {
      case Op::Concat: {
        CheckLength(x.size() + y.size());
        std::string s;
        s.reserve(x.size() + y.size());
        s.append(x).append(y);
        return Value::Str(std::move(s));
      }
      case Op::Equal:
        r = x == y;
        break;
      case Op::Contains:
        r = x.find(y) != std::string::npos;
        break;
      default:
        r = x > y;
        break;
    }
    return Value::Bool(r != e.negated);
  }
  switch (op) {
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div:
    case Op::IntDiv:
    case Op::Mod:
    case Op::Pow:
    case Op::Less:
    case Op::Greater:
    case Op::LessEq:
    case Op::GreaterEq: {
      // Numeric operators need only the numbers: variables are read in place,
      // the left number taken before the right side runs (it may change it).
      const Number x = EvalNum(*e.args[0]);
      const Number y = EvalNum(*e.args[1]);
      switch (op) {
        case Op::Add:
          return Value::Num(Add(x, y));
        case Op::Sub:
          return Value::Num(Sub(x, y));
        case Op::Mul:
          return Value::Num(Mul(x, y));
        case Op::Div:
          return Value::Num(Div(x, y));
        case Op::IntDiv:
          return Value::Num(IntDiv(x, y));
        case Op::Mod:
          return Value::Num(Mod(x, y));
        case Op::Pow:
          return Value::Num(Pow(x, y));
        case Op::Less:
          return Value::Bool((Compare(x, y) < 0) != e.negated);
        case Op::Greater:
          return Value::Bool((Compare(x, y) > 0) != e.negated);
        case Op::LessEq:
          return Value::Bool((Compare(x, y) <= 0) != e.negated);
        default:
          return Value::Bool((Compare(x, y) >= 0) != e.negated);
      }
    }
    default:
      break;
  }
  Value a = Eval(*e.args[0]);
  Value b = Eval(*e.args[1]);
  bool r = false;
  switch (op) {
    case Op::Concat: {
      std::string s = a.TakeStr();
      const std::string& t = b.str();
      CheckLength(s.size() + t.size());
      s += t;
      return Value::Str(std::move(s));
    }
    case Op::Equal:
      r = a.str() == b.str();
      break;
    case Op::Follows:
      r = a.str() > b.str();
      break;
    case Op::SortsAfter:
      r = Collate(a, b) > 0;
      break;
    case Op::Contains:
      r = a.str().find(b.str()) != std::string::npos;
      break;
    case Op::And:
      r = a.truth() && b.truth();
      break;
    case Op::Or:
      r = a.truth() || b.truth();
      break;
    default:
      Throw("SYNTAX");
  }
  return Value::Bool(r != e.negated);
}

}  // namespace mengine

namespace mengine {

bool Interpreter::PureSlow(const Expr& e) {
  bool pure = true;
  switch (e.kind) {
    case ExprKind::Literal:
    case ExprKind::Special:
      break;
    case ExprKind::Local:
    case ExprKind::Global:
    case ExprKind::Unary:
    case ExprKind::Binary:
    case ExprKind::PatternMatch:
      if (e.entry) pure = false;  // extended global reference
      break;
    case ExprKind::Function:
      pure = static_cast<Fn>(e.op) != Fn::Increment && static_cast<Fn>(e.op) != Fn::Text;
      break;
    default:
      pure = false;
  }
  if (e.kind == ExprKind::PatternMatch && !e.pattern) pure = false;
  for (const auto& a : e.args)
    if (pure && a && !Pure(*a)) pure = false;
  e.pure.store(pure ? 1 : 0, std::memory_order_relaxed);
  return pure;
}

const Value& Interpreter::EvalRefSlow(const Expr& e, Value& scratch) {
  scratch = Eval(e);
  return scratch;
}

Number Interpreter::EvalNumSlow(const Expr& e) {
  // Functions ($LENGTH, $FIND...) and operators are called directly, not
  // through Eval's dispatch.
  if (e.kind == ExprKind::Function) return CallFunction(e).num();
  if (e.kind == ExprKind::Binary) return EvalBinary(e).num();
  return Eval(e).num();
}

// SET x=x_a_b...: appends to x in place instead of copying it, when the
// appended parts cannot change variables.
bool Interpreter::AppendInPlace(const CmdArg& arg) {
  if (arg.targets.size() != 1) return false;
  const Expr& target = *arg.targets.front();
  if (target.kind != ExprKind::Local || !target.args.empty()) return false;
  // The appended parts, last first; a longer chain takes the general path.
  // A fixed array, because this runs once per SET and must not allocate.
  constexpr std::size_t kMaxTails = 16;
  const Expr* tails[kMaxTails];
  std::size_t count = 0;
  const Expr* e = arg.expr.get();
  while (e->kind == ExprKind::Binary && static_cast<Op>(e->op) == Op::Concat) {
    if (count == kMaxTails || !Pure(*e->args[1])) return false;
    tails[count++] = e->args[1].get();
    e = e->args[0].get();
  }
  if (count == 0 || e->kind != ExprKind::Local || !e->args.empty() || e->sym != target.sym) return false;
  Var* v = FastVar(target.sym, target.name);
  if (!v || !v->root) return false;
  // The parts are evaluated before x changes, so that one reading x (x_x)
  // sees the old value.
  std::string added;
  while (count > 0) {
    const Expr& tail = *tails[--count];
    if (tail.kind == ExprKind::Literal) {
      added += tail.literal.str();
    } else if (const Value* local = PlainLocal(tail)) {
      added += local->str();
    } else {
      Value part = Eval(tail);
      if (part.IsNumberOnly())
        part.num().AppendTo(added);  // no string made only to be copied
      else
        added += part.str();
    }
  }
  CheckLength(v->root->str().size() + added.size());
  v->root->Append(added);
  return true;
}

}  // namespace mengine
