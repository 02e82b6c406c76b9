// Recursive-descent parser for M lines (Cache dialect).
#include "parser.h"

#include <optional>

#include "depth.h"
#include "lexer.h"
#include "names.h"
#include "pattern.h"

namespace mengine {
namespace {

class Parser {
 public:
  Parser(std::string_view text, int max_nesting) : lex_(text), max_nesting_(max_nesting) {}

  Lexer& lex() { return lex_; }

  // ---- expressions ----

  ExprPtr Expression() {
    Depth guard(*this);
    // Each operator deepens the (left-leaning) tree by one level: the chain
    // counts toward the same depth as nesting.
    std::vector<DepthGuard> chain;
    chain.reserve(8);
    ExprPtr left = Atom();
    for (;;) {
      if (lex_.Peek() == '?' || (lex_.Peek() == '\'' && lex_.Peek(1) == '?')) {
        bool negated = lex_.Accept('\'');
        lex_.Expect('?');
        chain.emplace_back(depth_, max_nesting_, "SYNTAX");
        auto e = std::make_unique<Expr>();
        e->kind = ExprKind::PatternMatch;
        e->negated = negated;
        e->args.push_back(std::move(left));
        if (lex_.Accept('@')) {
          e->args.push_back(Atom());
        } else {
          e->pattern = ParsePattern(lex_, depth_, max_nesting_);
        }
        left = std::move(e);
        continue;
      }
      auto op = lex_.BinaryOperator();
      if (!op) break;
      chain.emplace_back(depth_, max_nesting_, "SYNTAX");
      auto e = std::make_unique<Expr>();
      e->kind = ExprKind::Binary;
      e->op = static_cast<std::uint8_t>(op->first);
      e->negated = op->second;
      e->args.push_back(std::move(left));
      e->args.push_back(Atom());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr Atom() {
    Depth guard(*this);
    char c = lex_.Peek();
    if (lex_.AtEnd()) Throw("SYNTAX");
    if (c == '"') return StringConstant(lex_.StringLiteral());
    if (Lexer::IsDigit(c) || (c == '.' && Lexer::IsDigit(lex_.Peek(1)))) {
      auto v = lex_.NumberLiteral();
      if (!v) Throw("SYNTAX");
      return Literal(*v);
    }
    if (c == '(') {
      lex_.Next();
      ExprPtr e = Expression();
      lex_.Expect(')');
      return e;
    }
    if (c == '\'' || c == '+' || c == '-') {
      lex_.Next();
      auto e = std::make_unique<Expr>();
      e->kind = ExprKind::Unary;
      e->op = static_cast<std::uint8_t>(c == '\'' ? Op::Not : c == '+' ? Op::Plus : Op::Minus);
      e->args.push_back(Atom());
      return e;
    }
    if (c == '$') return Dollar();
    if (c == '^' || c == '@' || lex_.AtName()) {
      ExprPtr e = Glvn();
      // e.Name: a property of an exception value (the only objects here).
      while (e->kind == ExprKind::Local && lex_.Peek() == '.' && Lexer::IsAlpha(lex_.Peek(1))) {
        lex_.Next();
        auto p = std::make_unique<Expr>();
        p->kind = ExprKind::Property;
        p->name = lex_.Name();
        p->args.push_back(std::move(e));
        e = std::move(p);
      }
      return e;
    }
    Throw("SYNTAX");
  }

  ExprPtr Literal(Value v) {
    // Both forms are made now: the tree is shared between threads and must
    // not change when it is read.
    v.str();
    v.num();
    auto e = std::make_unique<Expr>();
    e->kind = ExprKind::Literal;
    e->literal = std::move(v);
    return e;
  }

  // A string constant is a string: a numeric reading out of range (say
  // "1E146") is an error of the operation that needs the number, so the
  // number form is left unmade here. Value::num() makes it without writing
  // anything when it fails, so the shared tree is still never written.
  ExprPtr StringConstant(std::string text) {
    Value v = Value::Str(std::move(text));
    try {
      v.num();
    } catch (const MError&) {
    }
    auto e = std::make_unique<Expr>();
    e->kind = ExprKind::Literal;
    e->literal = std::move(v);
    return e;
  }

  void Subscripts(Expr& e) {
    if (!lex_.Accept('(')) return;
    do {
      e.args.push_back(Expression());
    } while (lex_.Accept(','));
    lex_.Expect(')');
  }

  // Local, global, naked or indirect variable name.
  ExprPtr Glvn() {
    auto e = std::make_unique<Expr>();
    if (lex_.Accept('@')) {
      e->kind = ExprKind::Indirect;
      e->args.push_back(Atom());
      if (lex_.Peek() == '@' && lex_.Peek(1) == '(') {
        lex_.Next();
        e->subscript_indirect = true;
        Subscripts(*e);
      }
      return e;
    }
    if (lex_.Accept('^')) {
      e->kind = ExprKind::Global;
      if (lex_.Peek() == '|') {
        // Extended reference ^|"ns"|name: the namespace expression is kept
        // as the first argument of a marker node.
        lex_.Next();
        auto ns = Expression();
        lex_.Expect('|');
        e->entry = std::make_unique<EntryRef>();
        e->entry->label_indirect = std::move(ns);
      }
      if (lex_.Peek() == '(') {
        e->name.clear();  // naked reference
        Subscripts(*e);
        if (e->args.empty()) Throw("SYNTAX");
        return e;
      }
      e->name = lex_.Name();
      if (e->name.empty()) Throw("SYNTAX");
      Subscripts(*e);
      return e;
    }
    e->kind = ExprKind::Local;
    e->name = lex_.Name();
    if (e->name.empty()) Throw("SYNTAX");
    if (e->name.size() > 255) Throw("SYNTAX");
    e->sym = InternName(e->name);
    Subscripts(*e);
    return e;
  }

  ExprPtr Dollar() {
    lex_.Expect('$');
    if (lex_.Accept('$')) {
      auto e = std::make_unique<Expr>();
      e->kind = ExprKind::Extrinsic;
      e->entry = Entry(true);
      return e;
    }
    std::string name = lex_.Name();
    if (name.empty()) Throw("SYNTAX");
    if (lex_.Peek() != '(') {
      auto sv = LookupSpecial(name);
      if (!sv) Throw("SYNTAX");
      auto e = std::make_unique<Expr>();
      e->kind = ExprKind::Special;
      e->op = static_cast<std::uint8_t>(*sv);
      e->name = name;
      return e;
    }
    auto fn = LookupFunction(name);
    if (!fn) Throw("FUNCTION");
    lex_.Expect('(');
    auto e = std::make_unique<Expr>();
    e->kind = ExprKind::Function;
    e->op = static_cast<std::uint8_t>(*fn);
    e->name = name;
    if (*fn == Fn::Text) {
      e->entry = Entry(false);
      lex_.Expect(')');
      return e;
    }
    if (*fn == Fn::Select) {
      do {
        e->args.push_back(Expression());
        lex_.Expect(':');
        e->args.push_back(Expression());
      } while (lex_.Accept(','));
      lex_.Expect(')');
      return e;
    }
    if (*fn == Fn::Case) {
      e->args.push_back(Expression());
      while (lex_.Accept(',')) {
        if (lex_.Accept(':')) {
          e->args.push_back(nullptr);  // default marker
          e->args.push_back(Expression());
          break;
        }
        e->args.push_back(Expression());
        lex_.Expect(':');
        e->args.push_back(Expression());
      }
      lex_.Expect(')');
      return e;
    }
    if (lex_.Peek() != ')') {
      do {
        if ((lex_.Peek() == ',' || lex_.Peek() == ')') && (*fn == Fn::ListBuild)) {
          e->args.push_back(nullptr);  // omitted list element
          continue;
        }
        e->args.push_back(Expression());
      } while (lex_.Accept(','));
    }
    lex_.Expect(')');
    return e;
  }

  // label+offset^routine(actuals); each part optional, at least one present.
  std::unique_ptr<EntryRef> Entry(bool actuals) {
    auto r = std::make_unique<EntryRef>();
    if (lex_.Accept('@')) {
      r->label_indirect = Atom();
    } else {
      r->label = lex_.Label();
    }
    // The offset is an expression (A+1+1, @A+2+(2+3)-4); it ends where no
    // operator follows, at '^', '(', ':', ',', ')' or a blank.
    if (lex_.Accept('+')) r->offset = Expression();
    if (lex_.Accept('^')) {
      r->has_routine = true;
      if (lex_.Accept('@')) {
        r->routine_indirect = Atom();
      } else {
        r->routine = RoutineName();
        if (r->routine.empty()) Throw("SYNTAX");
      }
    }
    if (r->label.empty() && !r->label_indirect && !r->offset && !r->has_routine) Throw("SYNTAX");
    if (actuals && lex_.Peek() == '(') {
      lex_.Next();
      r->has_actuals = true;
      if (!lex_.Accept(')')) {
        do {
          Actual a;
          if (lex_.Peek() == ',' || lex_.Peek() == ')') {
            a.omitted = true;
          } else if (lex_.Peek() == '.' && !Lexer::IsDigit(lex_.Peek(1))) {
            lex_.Next();
            a.by_ref = true;
            if (lex_.Accept('@')) {
              a.ref_indirect = Atom();  // .@x: the name is x's value
            } else {
              a.ref = lex_.Name();
              if (a.ref.empty()) Throw("SYNTAX");
            }
          } else {
            a.expr = Expression();
          }
          r->actuals.push_back(std::move(a));
        } while (lex_.Accept(','));
        lex_.Expect(')');
      }
    }
    return r;
  }

  std::string RoutineName() {
    std::string name = lex_.Name();
    while (!name.empty() && lex_.Peek() == '.' && (Lexer::IsAlpha(lex_.Peek(1)) || Lexer::IsDigit(lex_.Peek(1)))) {
      lex_.Next();
      name.push_back('.');
      while (Lexer::IsAlpha(lex_.Peek()) || Lexer::IsDigit(lex_.Peek())) name.push_back(lex_.Next());
    }
    return name;
  }

  // ---- commands ----

  void Commands(Line& line) {
    for (;;) {
      while (lex_.Peek() == ' ' || lex_.Peek() == '\t') lex_.Next();
      if (lex_.AtEnd() || lex_.Peek() == ';') return;
      if (lex_.Peek() == '/' && lex_.Peek(1) == '/') return;
      if (lex_.Accept('}')) {
        Command end;
        end.kind = Cmd::BlockEnd;
        line.commands.push_back(std::move(end));
        continue;
      }
      std::string word;
      while (Lexer::IsAlpha(lex_.Peek())) word.push_back(lex_.Next());
      if (word.empty()) Throw("SYNTAX");
      Command cmd;
      std::optional<Cmd> kind;
      bool is_h = word == "H" || word == "h";
      if (!is_h) {
        kind = LookupCommand(word);
        if (!kind) Throw("SYNTAX");
        cmd.kind = *kind;
      }
      if (lex_.Accept(':')) cmd.postcond = Expression();
      bool argless = true;
      if (!lex_.AtEnd()) {
        if (lex_.Peek() != ' ' && lex_.Peek() != '\t') Throw("SYNTAX");
        lex_.Next();
        argless = lex_.AtEnd() || lex_.Peek() == ' ' || lex_.Peek() == '\t' || lex_.Peek() == ';' || lex_.Peek() == '}';
      }
      if (is_h) cmd.kind = argless ? Cmd::Halt : Cmd::Hang;
      if (cmd.kind == Cmd::Try || cmd.kind == Cmd::Catch) {
        if (cmd.postcond) Throw("SYNTAX");
        BlockOpening(cmd);
        line.commands.push_back(std::move(cmd));
        continue;
      }
      cmd.argless = argless;
      if (!argless) {
        cmd.args = Arguments(cmd.kind);
        if (!lex_.AtEnd() && lex_.Peek() != ' ' && lex_.Peek() != '\t') Throw("SYNTAX");
      } else if (!ArglessAllowed(cmd.kind)) {
        Throw("SYNTAX");
      }
      line.commands.push_back(std::move(cmd));
    }
  }

  // TRY { and CATCH [var] { (also CATCH (var) {): the brace opens a block
  // that may go on over further lines; the commands after it follow.
  void BlockOpening(Command& cmd) {
    while (lex_.Peek() == ' ' || lex_.Peek() == '\t') lex_.Next();
    if (cmd.kind == Cmd::Catch && lex_.Peek() != '{') {
      bool paren = lex_.Accept('(');
      CmdArg a;
      auto var = std::make_unique<Expr>();
      var->kind = ExprKind::Local;
      var->name = lex_.Name();
      if (var->name.empty()) Throw("SYNTAX");
      var->sym = InternName(var->name);
      a.targets.push_back(std::move(var));
      cmd.args.push_back(std::move(a));
      cmd.argless = false;
      if (paren) lex_.Expect(')');
      while (lex_.Peek() == ' ' || lex_.Peek() == '\t') lex_.Next();
    }
    lex_.Expect('{');
  }

  static bool ArglessAllowed(Cmd c) {
    switch (c) {
      case Cmd::Throw:
      case Cmd::Set:
      case Cmd::Hang:
      case Cmd::Merge:
      case Cmd::Xecute:
      case Cmd::Job:
      case Cmd::Goto:
      case Cmd::ZInsert:
      case Cmd::ZNspace:
      case Cmd::Read:
      case Cmd::ZLoad:
      case Cmd::Write:
      case Cmd::Open:
      case Cmd::Use:
      case Cmd::Close:
        return false;
      default:
        return true;
    }
  }

  std::vector<CmdArg> Arguments(Cmd kind) {
    std::vector<CmdArg> args;
    do {
      args.push_back(Argument(kind));
    } while (lex_.Accept(','));
    return args;
  }

  // '@' atom not followed by more name: argument indirection.
  bool TryArgumentIndirection(CmdArg& a) {
    if (lex_.Peek() != '@') return false;
    std::size_t save = lex_.pos();
    lex_.Next();
    ExprPtr target = Atom();
    char c = lex_.Peek();
    if (lex_.AtEnd() || c == ' ' || c == '\t' || c == ',' || c == ':') {
      a.indirect = std::move(target);
      return true;
    }
    lex_.set_pos(save);
    return false;
  }

  void SkipDeviceParameters() {
    // :params[:timeout] of OPEN/USE/CLOSE; the values are evaluated and ignored.
    while (lex_.Accept(':')) {
      if (lex_.Peek() == ':') continue;
      if (lex_.Peek() == '(') {
        lex_.Next();
        int depth = 1;
        while (!lex_.AtEnd() && depth > 0) {
          char c = lex_.Next();
          if (c == '"') {
            lex_.set_pos(lex_.pos() - 1);
            lex_.StringLiteral();
          } else if (c == '(') {
            ++depth;
          } else if (c == ')') {
            --depth;
          }
        }
        continue;
      }
      if (lex_.AtArgumentEnd() || lex_.Peek() == ',') continue;
      Expression();
    }
  }

  ExprPtr SetTarget() {
    if (lex_.Peek() == '$') {
      std::size_t save = lex_.pos();
      lex_.Next();
      std::string name = lex_.Name();
      if (lex_.Peek() == '(') {
        auto fn = LookupFunction(name);
        if (!fn || (*fn != Fn::Piece && *fn != Fn::Extract && *fn != Fn::List)) Throw("SYNTAX");
        lex_.set_pos(save);
        ExprPtr e = Dollar();
        if (e->args.empty()) Throw("SYNTAX");
        Expr& var = *e->args[0];
        if (var.kind != ExprKind::Local && var.kind != ExprKind::Global && var.kind != ExprKind::Indirect)
          Throw("SYNTAX");
        return e;
      }
      auto sv = LookupSpecial(name);
      if (!sv) Throw("SYNTAX");
      auto e = std::make_unique<Expr>();
      e->kind = ExprKind::Special;
      e->op = static_cast<std::uint8_t>(*sv);
      e->name = name;
      return e;
    }
    return Glvn();
  }

  CmdArg Argument(Cmd kind) {
    CmdArg a;
    switch (kind) {
      case Cmd::Set: {
        if (TryArgumentIndirection(a)) return a;
        if (lex_.Accept('(')) {
          do {
            a.targets.push_back(SetTarget());
          } while (lex_.Accept(','));
          lex_.Expect(')');
        } else {
          a.targets.push_back(SetTarget());
        }
        lex_.Expect('=');
        a.expr = Expression();
        return a;
      }
      case Cmd::Kill:
      case Cmd::New: {
        if (lex_.Accept('(')) {
          a.exclusive = true;
          do {
            // A kept name is a plain local, or @expr naming one.
            a.targets.push_back(Glvn());
            const Expr& kept = *a.targets.back();
            if (!(kept.kind == ExprKind::Local && kept.args.empty()) &&
                !(kept.kind == ExprKind::Indirect && !kept.subscript_indirect))
              Throw("SYNTAX");
          } while (lex_.Accept(','));
          lex_.Expect(')');
          return a;
        }
        if (TryArgumentIndirection(a)) return a;
        if (kind == Cmd::New && lex_.Peek() == '$') {
          a.targets.push_back(SetTarget());
          return a;
        }
        a.targets.push_back(Glvn());
        return a;
      }
      case Cmd::ZWrite: {
        if (TryArgumentIndirection(a)) return a;
        a.targets.push_back(Glvn());
        return a;
      }
      case Cmd::Do:
      case Cmd::Goto:
      case Cmd::Job: {
        if (!TryArgumentIndirection(a)) a.entry = Entry(kind != Cmd::Goto);
        if (kind == Cmd::Job) {
          if (lex_.Accept(':')) {
            if (lex_.Peek() == '(') {
              lex_.Next();
              if (!lex_.Accept(')')) {
                do {
                  if (lex_.Peek() != ':' && lex_.Peek() != ')') Expression();
                } while (lex_.Accept(':'));
                lex_.Expect(')');
              }
            } else if (lex_.Peek() != ':' && !lex_.AtArgumentEnd() && lex_.Peek() != ',') {
              Expression();
            }
            if (lex_.Accept(':')) a.timeout = Expression();
          }
        } else if (lex_.Accept(':')) {
          a.postcond = Expression();
        }
        return a;
      }
      case Cmd::Xecute: {
        // @x may hold a list of arguments ("Y,Z"), each executed in turn.
        if (!TryArgumentIndirection(a)) a.expr = Expression();
        if (lex_.Accept(':')) a.postcond = Expression();
        return a;
      }
      case Cmd::Write: {
        while (lex_.Peek() == '!' || lex_.Peek() == '#') a.formats.push_back(lex_.Next());
        char c = lex_.Peek();
        if (c == '?' || (c == '*' && a.formats.empty())) {
          a.format = c;
          lex_.Next();
          a.expr = Expression();
          return a;
        }
        if (!a.formats.empty()) return a;
        if (TryArgumentIndirection(a)) return a;
        a.expr = Expression();
        return a;
      }
      case Cmd::Lock: {
        if (lex_.Peek() == '+' || lex_.Peek() == '-') a.lock_mode = lex_.Next();
        if (lex_.Accept('(')) {
          do {
            a.targets.push_back(Glvn());
          } while (lex_.Accept(','));
          lex_.Expect(')');
        } else {
          if (TryArgumentIndirection(a)) return a;
          a.targets.push_back(Glvn());
        }
        if (lex_.Accept(':')) a.timeout = Expression();
        return a;
      }
      case Cmd::Merge: {
        if (TryArgumentIndirection(a)) return a;
        a.targets.push_back(Glvn());
        lex_.Expect('=');
        a.expr = Glvn();
        return a;
      }
      case Cmd::For: {
        a.for_var = Glvn();
        if (a.for_var->kind != ExprKind::Local && a.for_var->kind != ExprKind::Indirect) Throw("SYNTAX");
        lex_.Expect('=');
        do {
          ForRange r;
          r.start = Expression();
          if (lex_.Accept(':')) {
            r.step = Expression();
            if (lex_.Accept(':')) r.limit = Expression();
          }
          a.ranges.push_back(std::move(r));
        } while (lex_.Accept(','));
        return a;
      }
      case Cmd::ZInsert: {
        a.expr = Expression();
        if (lex_.Accept(':')) a.entry = Entry(false);
        return a;
      }
      case Cmd::ZRemove:
      case Cmd::ZPrint: {
        a.entry = Entry(false);
        if (lex_.Accept(':')) {
          auto end = Entry(false);
          // The range end is kept as the argument's second entry in `ranges`.
          ForRange r;
          auto holder = std::make_unique<Expr>();
          holder->entry = std::move(end);
          r.start = std::move(holder);
          a.ranges.push_back(std::move(r));
        }
        return a;
      }
      case Cmd::Read: {
        // Formats and prompts are written; *x reads one character, x#n at
        // most n; :t is a time-out.
        while (lex_.Peek() == '!' || lex_.Peek() == '#') a.formats.push_back(lex_.Next());
        if (lex_.Peek() == '?') {
          a.format = lex_.Next();
          a.expr = Expression();
          return a;
        }
        if (lex_.Peek() == '"') {
          a.expr = StringConstant(lex_.StringLiteral());
          return a;
        }
        if (!a.formats.empty() && (lex_.AtArgumentEnd() || lex_.Peek() == ',')) return a;
        if (TryArgumentIndirection(a)) return a;
        if (lex_.Accept('*')) a.format = '*';
        a.targets.push_back(Glvn());
        if (a.format != '*' && lex_.Accept('#')) a.length = Expression();
        if (lex_.Accept(':')) a.timeout = Expression();
        return a;
      }
      case Cmd::Open:
      case Cmd::Use:
      case Cmd::Close: {
        a.expr = Expression();
        SkipDeviceParameters();
        return a;
      }
      case Cmd::Break:
      case Cmd::ZBreak:
      case Cmd::TRollback: {
        a.expr = Expression();  // TROLLBACK 1: the current level only
        return a;
      }
      case Cmd::TStart:
        TStartArgument(a);
        return a;
      case Cmd::View:
      case Cmd::TCommit: {
        while (!lex_.AtArgumentEnd() && lex_.Peek() != ',') {
          if (lex_.Peek() == '"')
            lex_.StringLiteral();
          else
            lex_.Next();
        }
        return a;
      }
      default: {
        // IF, QUIT, HANG, ZNSPACE, ZLOAD, ZSAVE, ZTRAP, ELSE(none), HALT(none)
        if (kind == Cmd::Else || kind == Cmd::Halt) Throw("SYNTAX");
        if (TryArgumentIndirection(a)) return a;
        if (kind == Cmd::ZLoad || kind == Cmd::ZSave) {
          // Routine names are written bare: ZS name.
          std::string name = RoutineName();
          if (name.empty()) Throw("SYNTAX");
          a.expr = Literal(Value::Str(name));
          return a;
        }
        a.expr = Expression();
        return a;
      }
    }
  }

  // TSTART's argument: the locals a restart restores (*: all; (): none;
  // name or (name,...)), then transaction parameters after ':' (SERIAL or S,
  // TRANSACTIONID=expr or T=expr; several in parentheses, apart by ':').
  // a.format: '*' all, '(' a list (maybe empty), 0 none; a.expr: the
  // transaction id; a.exclusive: SERIAL.
  void TStartArgument(CmdArg& a) {
    auto local = [&] {
      auto e = std::make_unique<Expr>();
      e->kind = ExprKind::Local;
      e->name = lex_.Name();
      if (e->name.empty()) Throw("SYNTAX");
      e->sym = InternName(e->name);
      a.targets.push_back(std::move(e));
    };
    if (lex_.Accept('*')) {
      a.format = '*';
    } else if (lex_.Accept('(')) {
      a.format = '(';
      if (!lex_.Accept(')')) {
        do local();
        while (lex_.Accept(','));
        lex_.Expect(')');
      }
    } else if (lex_.Peek() != ':') {
      a.format = '(';
      local();
    }
    if (!lex_.Accept(':')) return;
    auto parameter = [&] {
      std::string key = lex_.Name();
      for (auto& ch : key)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
      if (key == "S" || key == "SERIAL") {
        a.exclusive = true;
      } else if (key == "T" || key == "TRANSACTIONID") {
        lex_.Expect('=');
        a.expr = Expression();
      } else {
        Throw("SYNTAX");
      }
    };
    if (lex_.Accept('(')) {
      do parameter();
      while (lex_.Accept(':'));
      lex_.Expect(')');
    } else {
      parameter();
    }
  }

  void Formals(Line& line) {
    line.has_formals = true;
    lex_.Expect('(');
    if (lex_.Accept(')')) return;
    do {
      std::string name = lex_.Name();
      if (name.empty()) Throw("SYNTAX");
      line.formals.push_back(name);
    } while (lex_.Accept(','));
    lex_.Expect(')');
  }

 private:
  struct Depth : DepthGuard {
    explicit Depth(Parser& p) : DepthGuard(p.depth_, p.max_nesting_, "SYNTAX") {}
  };

  Lexer lex_;
  int max_nesting_;
  int depth_ = 0;
};

void ParseBody(Parser& p, Line& line) { p.Commands(line); }

// Pairs the braces of TRY and CATCH blocks over lines (a routine's, or one
// line alone) and records in each TRY, CATCH and } where execution goes on.
// A CATCH must follow the } of its TRY at once. Answers the index of a line
// whose braces do not pair, or -1.
int LinkBlocks(std::vector<Line>& lines) {
  struct Open {
    CommandPlace place;
    bool is_try;
    CommandPlace try_end;  // CATCH: the } of its TRY
  };
  std::vector<Open> open;
  std::optional<CommandPlace> closed_try, closed_try_end;
  auto at = [&](CommandPlace p) -> Command& {
    return lines[static_cast<std::size_t>(p.line)].commands[p.command];
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto& commands = lines[i].commands;
    for (std::size_t j = 0; j < commands.size(); ++j) {
      Command& c = commands[j];
      const CommandPlace here{static_cast<int>(i), j};
      std::optional<CommandPlace> just_closed = closed_try, just_closed_end = closed_try_end;
      closed_try.reset();
      closed_try_end.reset();
      if (just_closed && c.kind != Cmd::Catch) return just_closed->line;  // TRY without its CATCH
      switch (c.kind) {
        case Cmd::Try:
          open.push_back({here, true, {}});
          break;
        case Cmd::Catch:
          if (!just_closed) return static_cast<int>(i);
          at(*just_closed).link = here;
          open.push_back({here, false, *just_closed_end});
          break;
        case Cmd::BlockEnd: {
          if (open.empty()) return static_cast<int>(i);
          Open o = open.back();
          open.pop_back();
          c.closes_try = o.is_try;
          if (o.is_try) {
            closed_try = o.place;
            closed_try_end = here;
          } else {
            at(o.place).link = here;
            at(o.try_end).link = here;
            c.link = here;
          }
          break;
        }
        default:
          break;
      }
    }
  }
  if (closed_try) return closed_try->line;
  if (!open.empty()) return open.back().place.line;
  return -1;
}

}  // namespace

Line ParseRoutineLine(std::string_view text, int max_nesting) {
  Line line;
  line.text = std::string(text);
  Parser p(text, max_nesting);
  Lexer& lex = p.lex();
  try {
    if (!lex.AtEnd() && lex.Peek() != ' ' && lex.Peek() != '\t') {
      line.label = lex.Label();
      if (line.label.empty()) Throw("SYNTAX");
      if (lex.Peek() == '(') p.Formals(line);
      if (!lex.AtEnd() && lex.Peek() != ' ' && lex.Peek() != '\t' && lex.Peek() != ';') Throw("SYNTAX");
    }
    while (lex.Peek() == ' ' || lex.Peek() == '\t') lex.Next();
    while (lex.Peek() == '.') {
      lex.Next();
      ++line.level;
      while (lex.Peek() == ' ' || lex.Peek() == '\t') lex.Next();
    }
    ParseBody(p, line);
  } catch (const MError& e) {
    // Kept and raised when the line runs, as a compiled Cache routine does.
    line.commands.clear();
    line.syntax_error = MError{e.name, {}, false, false};
  }
  return line;
}

Line ParseCommandLine(std::string_view text, int max_nesting) {
  Line line;
  line.text = std::string(text);
  Parser p(text, max_nesting);
  ParseBody(p, line);
  std::vector<Line> one;
  one.push_back(std::move(line));
  if (LinkBlocks(one) >= 0) Throw("SYNTAX");
  return std::move(one.front());
}

ExprPtr ParseExpressionText(std::string_view text, int max_nesting) {
  Parser p(text, max_nesting);
  ExprPtr e = p.Expression();
  if (!p.lex().AtEnd()) Throw("SYNTAX");
  return e;
}

ExprPtr ParseNameText(std::string_view text, int max_nesting) {
  Parser p(text, max_nesting);
  ExprPtr e = p.Glvn();
  if (!p.lex().AtEnd()) Throw("SYNTAX");
  return e;
}

std::vector<CmdArg> ParseArgumentText(Cmd command, std::string_view text, int max_nesting) {
  Parser p(text, max_nesting);
  auto args = p.Arguments(command);
  if (!p.lex().AtEnd()) Throw("SYNTAX");
  return args;
}

std::unique_ptr<EntryRef> ParseEntryText(std::string_view text, int max_nesting, bool actuals) {
  Parser p(text, max_nesting);
  auto e = p.Entry(actuals);
  if (!p.lex().AtEnd()) Throw("SYNTAX");
  return e;
}

std::shared_ptr<Routine> ParseRoutine(std::string_view name, const std::vector<std::string>& lines, int max_nesting) {
  auto r = std::make_shared<Routine>();
  r->name = std::string(name);
  r->lines.reserve(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    r->lines.push_back(ParseRoutineLine(lines[i], max_nesting));
    const std::string& label = r->lines.back().label;
    if (!label.empty()) r->labels.emplace(label, static_cast<int>(i));
  }
  // Braces that do not pair make the line where they go wrong an error
  // raised when it runs, as other syntax errors are.
  const int bad = LinkBlocks(r->lines);
  if (bad >= 0) r->lines[static_cast<std::size_t>(bad)].syntax_error = MError{"SYNTAX", {}, false, false};
  return r;
}

}  // namespace mengine
