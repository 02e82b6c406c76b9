// Intrinsic functions and special variables.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checksum.h"
#include "dates.h"
#include "interpreter.h"
#include "lists.h"
#include "mengine/keycodec.h"
#include "names.h"
#include "parser.h"

namespace mengine {
namespace {

const auto kStart = std::chrono::steady_clock::now();

// Upper and lower case for ASCII and the Cyrillic letters of code page 866.
unsigned char Upper(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xA0 && c <= 0xAF) return static_cast<unsigned char>(c - 0x20);
  if (c >= 0xE0 && c <= 0xEF) return static_cast<unsigned char>(c - 0x50);
  if (c == 0xF1) return 0xF0;
  return c;
}
unsigned char Lower(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0x80 && c <= 0x8F) return static_cast<unsigned char>(c + 0x20);
  if (c >= 0x90 && c <= 0x9F) return static_cast<unsigned char>(c + 0x50);
  if (c == 0xF0) return 0xF1;
  return c;
}

// Out of line, so that the argument count check inlines.
[[noreturn]] void WrongArgumentCount() { Throw("FUNCTION"); }

std::int64_t Clamp(std::int64_t v) { return std::clamp<std::int64_t>(v, -4000000000LL, 4000000000LL); }

// Where the delimiter d next occurs in s from byte `from` (npos: nowhere).
// Single-byte delimiters, the usual case, are found with memchr.
std::size_t FindDelimiter(const std::string& s, const std::string& d, std::size_t from) {
  if (d.size() != 1) return s.find(d, from);
  if (from >= s.size()) return std::string::npos;
  const void* hit = std::memchr(s.data() + from, d[0], s.size() - from);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s.data()) : std::string::npos;
}

bool SameDelimiter(const std::string& a, const std::string& b) {
  return a.size() == b.size() && (a.size() == 1 ? a[0] == b[0] : a == b);
}

// Rounds n to `decimals` places (half away from zero) and writes it with a
// leading zero before the point, as $JUSTIFY and $FNUMBER do.
std::string Fixed(const Number& n, std::int64_t decimals) {
  decimals = std::clamp<std::int64_t>(decimals, 0, 100);
  Number scaled = n;
  scaled.exp += static_cast<int>(decimals);
  // round half away from zero to an integer
  Number half;
  half.mant = n.IsNegative() ? -5 : 5;
  half.exp = -1;
  Number rounded = Add(scaled, half).Truncated();
  bool negative = rounded.IsNegative();
  std::string digits = (negative ? Negate(rounded) : rounded).ToString();
  if (static_cast<std::int64_t>(digits.size()) <= decimals)
    digits.insert(0, static_cast<std::size_t>(decimals + 1 - static_cast<std::int64_t>(digits.size())), '0');
  std::string out = negative ? "-" : "";
  out += digits.substr(0, digits.size() - static_cast<std::size_t>(decimals));
  if (decimals > 0) out += "." + digits.substr(digits.size() - static_cast<std::size_t>(decimals));
  return out;
}

}  // namespace

std::string Interpreter::Horolog(bool utc) const {
  auto now = host_.Now();
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
  if (!utc) micros += static_cast<std::int64_t>(host_.UtcOffsetSeconds(now)) * 1000000;
  std::int64_t secs = micros / 1000000;
  if (micros < 0 && micros % 1000000) --secs;
  std::int64_t day = secs / 86400, sod = secs % 86400;
  if (sod < 0) {
    sod += 86400;
    --day;
  }
  std::string out = std::to_string(dates::HorologDay(day)) + "," + std::to_string(sod);
  if (utc) {
    char frac[8];
    std::snprintf(frac, sizeof frac, ".%03lld", static_cast<long long>((micros / 1000) % 1000));
    out += frac;
  }
  return out;
}

Value Interpreter::Text(const Frame& f, const EntryRef& entry) {
  std::shared_ptr<const Routine> routine;
  if (entry.has_routine) {
    std::string name = entry.routine_indirect ? Eval(*entry.routine_indirect).str() : entry.routine;
    try {
      routine = LoadRoutine(name);
    } catch (const MError&) {
      return Value();
    }
  } else {
    routine = f.routine;
    if (!routine) return Value();
  }
  std::string label = entry.label;
  if (entry.label_indirect) {
    // @x may hold a label or label+offset; the routine written after it
    // (and an offset written after it) still apply.
    auto inner = ParseEntryText(Eval(*entry.label_indirect).str(), limits_.max_nesting, false);
    if (inner->label_indirect) Throw("SYNTAX");
    if (inner->has_routine && entry.has_routine) Throw("SYNTAX");
    if (inner->offset && entry.offset) Throw("SYNTAX");
    if (!inner->has_routine && entry.has_routine) {
      if (!routine) return Value();
      inner->has_routine = true;
      inner->routine = routine->name;
    }
    if (!inner->offset && entry.offset) {
      auto off = std::make_unique<Expr>();
      off->literal = Value::Int(Eval(*entry.offset).Int64());
      inner->offset = std::move(off);
    }
    return Text(f, *inner);
  }
  std::int64_t line = 0;
  if (!label.empty()) {
    auto it = routine->labels.find(label);
    if (it == routine->labels.end()) return Value();
    line = it->second;
    if (entry.offset) line += Eval(*entry.offset).Int64();
  } else if (entry.offset) {
    // +0 names the routine; +n is its line n.
    std::int64_t off = Eval(*entry.offset).Int64();
    if (off == 0) return Value::Str(routine->name);
    line = off - 1;
  }  // ^R alone is the routine's first line
  if (!routine->has_source) return Value();
  if (line < 0 || line >= static_cast<std::int64_t>(routine->lines.size())) return Value();
  return Value::Str(routine->lines[static_cast<std::size_t>(line)].text);
}

Value Interpreter::CallFunction(const Expr& e) {
  CheckStack();
  const auto& a = e.args;
  auto arg = [&](std::size_t i) { return Eval(*a[i]); };
  auto int_arg = [&](std::size_t i) { return EvalNum(*a[i]).ToInt64(); };
  auto argc = a.size();
  auto need = [&](std::size_t lo, std::size_t hi) {
    if (argc < lo || argc > hi) WrongArgumentCount();
  };
  switch (static_cast<Fn>(e.op)) {
    case Fn::Ascii: {
      need(1, 2);
      Value scratch;
      const Value& sv = argc > 1 && !Pure(*a[1]) ? (scratch = arg(0)) : EvalRef(*a[0], scratch);
      const std::string& s = sv.str();
      std::int64_t i = argc > 1 ? arg(1).Int64() : 1;
      if (i < 1 || i > static_cast<std::int64_t>(s.size())) return Value::Int(-1);
      return Value::Int(static_cast<unsigned char>(s[static_cast<std::size_t>(i - 1)]));
    }
    case Fn::Char: {
      need(1, 1000000);
      std::string out;
      for (std::size_t i = 0; i < argc; ++i) {
        std::int64_t c = arg(i).Int64();
        if (c >= 0 && c <= 255) out.push_back(static_cast<char>(c));
      }
      return Value::Str(std::move(out));
    }
    case Fn::Data: {
      need(1, 1);
      if (!IsReference(*a[0])) Throw("FUNCTION");
      return Value::Int(Data(Resolve(*a[0])));
    }
    case Fn::Extract: {
      need(1, 3);
      Value scratch;
      bool pure_rest = (argc < 2 || Pure(*a[1])) && (argc < 3 || Pure(*a[2]));
      const Value& sv = pure_rest ? EvalRef(*a[0], scratch) : (scratch = arg(0));
      const std::string& s = sv.str();
      std::int64_t from = argc > 1 ? Clamp(int_arg(1)) : 1;
      std::int64_t to = argc > 2 ? Clamp(int_arg(2)) : from;
      if (from < 1) from = 1;
      if (to > static_cast<std::int64_t>(s.size())) to = static_cast<std::int64_t>(s.size());
      if (to < from) return Value();
      return Value::Str(s, static_cast<std::size_t>(from - 1), static_cast<std::size_t>(to - from + 1));
    }
    case Fn::Find: {
      need(2, 3);
      std::string s = arg(0).str(), t = arg(1).str();
      std::int64_t start = argc > 2 ? Clamp(arg(2).Int64()) : 1;
      if (start < 1) start = 1;
      if (t.empty()) return Value::Int(start);  // even past the end: $F("ABC","",900) is 900
      if (start > static_cast<std::int64_t>(s.size()) + 1) return Value::Int(0);
      auto pos = s.find(t, static_cast<std::size_t>(start - 1));
      if (pos == std::string::npos) return Value::Int(0);
      return Value::Int(static_cast<std::int64_t>(pos + t.size() + 1));
    }
    case Fn::FNumber: {
      need(2, 3);
      Number n = arg(0).num();
      std::string codes = arg(1).str();
      for (auto& c : codes) c = static_cast<char>(Upper(static_cast<unsigned char>(c)));
      std::string body;
      if (argc > 2) {
        body = Fixed(n, arg(2).Int64());
      } else {
        body = n.ToString();
        if (body[0] == '-') body.erase(0, 1);
        if (n.IsNegative()) body.insert(0, "-");
      }
      bool negative = !body.empty() && body[0] == '-';
      if (negative) body.erase(0, 1);
      bool zero_value = Number::Parse(body).IsZero();
      if (zero_value) negative = false;
      if (codes.find(',') != std::string::npos) {
        std::size_t dot = body.find('.');
        std::size_t int_len = dot == std::string::npos ? body.size() : dot;
        std::string grouped;
        for (std::size_t i = 0; i < int_len; ++i) {
          if (i && (int_len - i) % 3 == 0) grouped.push_back(',');
          grouped.push_back(body[i]);
        }
        body = grouped + body.substr(int_len);
      }
      bool p = codes.find('P') != std::string::npos;
      bool t = codes.find('T') != std::string::npos;
      if (p) return Value::Str(negative ? "(" + body + ")" : " " + body + " ");
      std::string sign;
      if (negative && codes.find('-') == std::string::npos) sign = "-";
      if (!negative && !zero_value && codes.find('+') != std::string::npos) sign = "+";
      return Value::Str(t ? body + (sign.empty() ? " " : sign) : sign + body);
    }
    case Fn::Get: {
      need(1, 2);
      if (!IsReference(*a[0])) Throw("FUNCTION");
      // Arguments are evaluated left to right, the default too when the
      // variable exists (it may move the naked indicator).
      Ref r = Resolve(*a[0]);
      Value fallback = argc > 1 ? arg(1) : Value();
      auto v = Get(r);
      if (v) return std::move(*v);
      return fallback;
    }
    case Fn::Increment: {
      need(1, 2);
      if (!IsReference(*a[0])) Throw("FUNCTION");
      Ref r = Resolve(*a[0]);
      Number by = argc > 1 ? arg(1).num() : Number::FromInt(1);
      if (r.global) {
        GlobalStore& store = Store(r);
        std::string key = Key(r);
        BeforeUpdate(r, key, false);
        std::string out = store.Update(key, [&](const std::optional<std::string>& old) {
          return Add(old ? Number::Parse(*old) : Number{}, by).ToString();
        });
        return Value::Str(std::move(out));
      }
      auto old = Get(r);
      Value v = Value::Num(Add(old ? old->num() : Number{}, by));
      Set(r, v);
      return v;
    }
    case Fn::Justify: {
      need(2, 3);
      Value v = arg(0);
      std::int64_t width = arg(1).Int64();
      std::string s = argc > 2 ? Fixed(v.num(), arg(2).Int64()) : v.str();
      if (width > static_cast<std::int64_t>(limits_.max_string)) Throw("MAXSTRING");
      if (width > static_cast<std::int64_t>(s.size()))
        s.insert(0, static_cast<std::size_t>(width - static_cast<std::int64_t>(s.size())), ' ');
      return Value::Str(std::move(s));
    }
    case Fn::Length: {
      need(1, 2);
      Value scratch;
      const Value& sv = argc > 1 && !Pure(*a[1]) ? (scratch = arg(0)) : EvalRef(*a[0], scratch);
      const std::string& s = sv.str();
      if (argc == 1) return Value::Int(static_cast<std::int64_t>(s.size()));
      std::string d = arg(1).str();
      if (d.empty()) return Value::Int(0);
      std::int64_t n = 1;
      for (std::size_t pos = s.find(d); pos != std::string::npos; pos = s.find(d, pos + d.size())) ++n;
      return Value::Int(n);
    }
    case Fn::Name: {
      need(1, 2);
      if (!IsReference(*a[0])) Throw("FUNCTION");
      Ref r = Resolve(*a[0], Naked::Keep);  // names the node: the naked indicator stays
      if (argc > 1) {
        std::int64_t n = arg(1).Int64();
        if (n < 0) Throw("FUNCTION");
        if (n < static_cast<std::int64_t>(r.subs.size())) r.subs.resize(static_cast<std::size_t>(n));
      }
      return Value::Str(FormatName(r));
    }
    case Fn::Order: {
      need(1, 2);
      if (!IsReference(*a[0])) Throw("FUNCTION");
      Ref r = Resolve(*a[0]);
      bool reverse = false;
      if (argc > 1) {
        std::int64_t d = arg(1).Int64();
        if (d != 1 && d != -1) Throw("FUNCTION");
        reverse = d == -1;
      }
      auto v = Order(r, reverse);
      return v ? std::move(*v) : Value();
    }
    case Fn::Piece: {
      need(2, 4);
      Value scratch, dscratch;
      bool pure_rest = Pure(*a[1]) && (argc < 3 || Pure(*a[2])) && (argc < 4 || Pure(*a[3]));
      const Value& sv = pure_rest ? EvalRef(*a[0], scratch) : (scratch = arg(0));
      const std::string& s = sv.str();
      const std::string& d = EvalRef(*a[1], dscratch).str();
      std::int64_t from = argc > 2 ? Clamp(int_arg(2)) : 1;
      std::int64_t to = argc > 3 ? Clamp(int_arg(3)) : from;
      if (d.empty() || to < from || to < 1) return Value();
      if (from < 1) from = 1;
      std::size_t start = 0;
      std::int64_t piece = 1;
      // Resume from where the last $PIECE of this value stopped.
      // Only a variable's value keeps a cache (literals belong to the shared tree).
      bool cacheable = &sv != &scratch && a[0]->kind == ExprKind::Local;
      PieceCache* c = cacheable ? &sv.piece_cache() : nullptr;
      bool same = c && SameDelimiter(c->delimiter, d);
      if (same && c->piece <= from && c->offset <= s.size()) {
        piece = c->piece;
        start = c->offset;
        if (from > piece && c->next <= s.size()) {
          ++piece;
          start = c->next;
        }
      }
      while (piece < from) {
        std::size_t pos = FindDelimiter(s, d, start);
        if (pos == std::string::npos) return Value();
        start = pos + d.size();
        ++piece;
      }
      if (c) {
        if (!same) c->delimiter = d;
        c->piece = piece;
        c->offset = start;
        c->next = std::string::npos;
      }
      std::size_t end = start;
      for (;;) {
        std::size_t pos = FindDelimiter(s, d, end);
        if (pos == std::string::npos) {
          end = s.size();
          break;
        }
        if (piece == to) {
          end = pos;
          if (c && to == from) c->next = pos + d.size();
          break;
        }
        end = pos + d.size();
        ++piece;
      }
      return Value::Str(s, start, end - start);
    }
    case Fn::QLength:
    case Fn::QSubscript: {
      need(1, static_cast<Fn>(e.op) == Fn::QLength ? 1 : 2);
      std::string text = arg(0).str();
      auto parsed = ParseNameText(text, limits_.max_nesting);
      if (parsed->kind == ExprKind::Indirect) Throw("FUNCTION");
      std::vector<Value> subs;
      for (const auto& s : parsed->args) subs.push_back(Eval(*s));
      if (static_cast<Fn>(e.op) == Fn::QLength) return Value::Int(static_cast<std::int64_t>(subs.size()));
      need(2, 2);
      std::int64_t n = arg(1).Int64();
      if (n < -1) Throw("FUNCTION");
      if (n == -1) return Value();
      if (n == 0) return Value::Str((parsed->kind == ExprKind::Global ? "^" : "") + parsed->name);
      if (n > static_cast<std::int64_t>(subs.size())) return Value();
      return subs[static_cast<std::size_t>(n - 1)];
    }
    case Fn::Query: {
      need(1, 2);
      if (!IsReference(*a[0])) Throw("FUNCTION");
      Ref r = Resolve(*a[0]);
      bool reverse = argc > 1 && arg(1).Int64() == -1;
      auto v = QueryRef(r, reverse);
      return Value::Str(v ? *v : std::string());
    }
    case Fn::Random: {
      need(1, 1);
      std::int64_t n = arg(0).Int64();
      if (n < 1) Throw("FUNCTION");
      return Value::Int(static_cast<std::int64_t>(random_() % static_cast<std::uint64_t>(n)));
    }
    case Fn::Reverse: {
      need(1, 1);
      std::string s = arg(0).str();
      std::reverse(s.begin(), s.end());
      return Value::Str(std::move(s));
    }
    case Fn::Select: {
      for (std::size_t i = 0; i + 1 < argc; i += 2)
        if (arg(i).truth()) return arg(i + 1);
      Throw("SELECT");
    }
    case Fn::Case: {
      Value v = arg(0);
      for (std::size_t i = 1; i + 1 < argc; i += 2) {
        if (!a[i]) return arg(i + 1);
        if (arg(i).str() == v.str()) return arg(i + 1);
      }
      Throw("ILLEGAL VALUE");
    }
    case Fn::Text:
      return Text(Top(), *e.entry);
    case Fn::Translate: {
      need(2, 3);
      std::string s = arg(0).str(), from = arg(1).str(), to = argc > 2 ? arg(2).str() : std::string();
      int map[256];
      for (int i = 0; i < 256; ++i) map[i] = i;
      for (std::size_t i = from.size(); i-- > 0;) {
        auto c = static_cast<unsigned char>(from[i]);
        map[c] = i < to.size() ? static_cast<unsigned char>(to[i]) : -1;
      }
      std::string out;
      out.reserve(s.size());
      for (char c : s) {
        int m = map[static_cast<unsigned char>(c)];
        if (m >= 0) out.push_back(static_cast<char>(m));
      }
      return Value::Str(std::move(out));
    }
    case Fn::ZConvert: {
      need(2, 3);
      std::string s = arg(0).str(), mode = arg(1).str();
      for (auto& c : mode) c = static_cast<char>(Upper(static_cast<unsigned char>(c)));
      if (mode == "U") {
        for (auto& c : s) c = static_cast<char>(Upper(static_cast<unsigned char>(c)));
      } else if (mode == "L") {
        for (auto& c : s) c = static_cast<char>(Lower(static_cast<unsigned char>(c)));
      } else if (mode == "W" || mode == "T") {
        bool start = true;
        for (auto& c : s) {
          auto u = static_cast<unsigned char>(c);
          c = static_cast<char>(start ? Upper(u) : Lower(u));
          start = c == ' ';
        }
      } else {
        Throw("FUNCTION");
      }
      return Value::Str(std::move(s));
    }
    case Fn::ZDate: {
      need(1, 3);
      std::int64_t day = Number::Parse(arg(0).str()).ToInt64();
      int fmt = argc > 1 ? static_cast<int>(arg(1).Int64()) : 1;
      auto out = dates::FormatDate(day, fmt);
      if (!out) Throw("ILLEGAL VALUE");
      return Value::Str(*out);
    }
    case Fn::ZDateH: {
      need(1, 3);
      std::string text = arg(0).str();
      int fmt = argc > 1 ? static_cast<int>(arg(1).Int64()) : 1;
      auto day = dates::ParseDate(text, fmt);
      if (!day) Throw("ILLEGAL VALUE");
      return Value::Int(*day);
    }
    case Fn::ZTime: {
      need(1, 2);
      std::int64_t secs = arg(0).Int64();
      int fmt = argc > 1 ? static_cast<int>(arg(1).Int64()) : 1;
      auto out = dates::FormatTime(secs, fmt);
      if (!out) Throw("ILLEGAL VALUE");
      return Value::Str(*out);
    }
    case Fn::ZDateTime: {
      need(1, 3);
      std::string h = arg(0).str();
      int dfmt = argc > 1 ? static_cast<int>(arg(1).Int64()) : 1;
      int tfmt = argc > 2 ? static_cast<int>(arg(2).Int64()) : 1;
      std::int64_t day = Number::Parse(h).ToInt64();
      auto comma = h.find(',');
      std::int64_t secs = comma == std::string::npos ? 0 : Number::Parse(h.substr(comma + 1)).ToInt64();
      auto d = dates::FormatDate(day, dfmt);
      auto t = dates::FormatTime(secs, tfmt);
      if (!d || !t) Throw("ILLEGAL VALUE");
      return Value::Str(*d + " " + *t);
    }
    case Fn::ZTimeH: {
      need(1, 2);
      auto secs = dates::ParseTime(arg(0).str());
      if (!secs) Throw("ILLEGAL VALUE");
      return Value::Int(*secs);
    }
    case Fn::ListBuild: {
      std::string out;
      for (std::size_t i = 0; i < argc; ++i) {
        if (!a[i]) {
          lists::Append(out, nullptr);
          continue;
        }
        Value v = arg(i);
        lists::Append(out, &v);
      }
      if (argc == 0) out = "";
      CheckLength(out.size());
      return Value::Str(std::move(out));
    }
    case Fn::List: {
      need(1, 3);
      auto items = lists::Split(arg(0).str());
      std::int64_t from = argc > 1 ? arg(1).Int64() : 1;
      if (from == -1) from = static_cast<std::int64_t>(items.size());
      if (argc > 2) {
        std::int64_t to = arg(2).Int64();
        if (to == -1) to = static_cast<std::int64_t>(items.size());
        if (from < 1) from = 1;
        to = std::min<std::int64_t>(to, static_cast<std::int64_t>(items.size()));
        std::string out;
        for (std::int64_t i = from; i <= to; ++i) {
          const auto& item = items[static_cast<std::size_t>(i - 1)];
          lists::Append(out, item ? &*item : nullptr);
        }
        return Value::Str(std::move(out));
      }
      if (from < 1 || from > static_cast<std::int64_t>(items.size())) Throw("NULL VALUE");
      const auto& item = items[static_cast<std::size_t>(from - 1)];
      if (!item) Throw("NULL VALUE");
      return *item;
    }
    case Fn::ListLength: {
      need(1, 1);
      return Value::Int(static_cast<std::int64_t>(lists::Split(arg(0).str()).size()));
    }
    case Fn::ListGet: {
      need(1, 3);
      auto items = lists::Split(arg(0).str());
      std::int64_t n = argc > 1 ? arg(1).Int64() : 1;
      if (n == -1) n = static_cast<std::int64_t>(items.size());
      if (n >= 1 && n <= static_cast<std::int64_t>(items.size()) && items[static_cast<std::size_t>(n - 1)])
        return *items[static_cast<std::size_t>(n - 1)];
      return argc > 2 ? arg(2) : Value();
    }
    case Fn::ListData: {
      need(1, 2);
      auto items = lists::Split(arg(0).str());
      std::int64_t n = argc > 1 ? arg(1).Int64() : 1;
      return Value::Bool(n >= 1 && n <= static_cast<std::int64_t>(items.size()) &&
                         items[static_cast<std::size_t>(n - 1)].has_value());
    }
    case Fn::ListFind: {
      need(2, 3);
      auto items = lists::Split(arg(0).str());
      std::string want = arg(1).str();
      std::int64_t after = argc > 2 ? arg(2).Int64() : 0;
      for (std::int64_t i = std::max<std::int64_t>(after, 0); i < static_cast<std::int64_t>(items.size()); ++i) {
        const auto& item = items[static_cast<std::size_t>(i)];
        if (item && item->str() == want) return Value::Int(i + 1);
      }
      return Value::Int(0);
    }
    case Fn::ListValid: {
      need(1, 1);
      try {
        lists::Split(arg(0).str());
        return Value::Int(1);
      } catch (const MError&) {
        return Value::Int(0);
      }
    }
    case Fn::ZU: {
      std::vector<std::string> values;
      for (std::size_t i = 0; i < argc; ++i) values.push_back(arg(i).str());
      ZuCall call{ns_, job_, values};
      ZuResult r = host_.ZU(call);
      if (!r.ok) Throw("FUNCTION");
      return Value::Str(std::move(r.value));
    }
    case Fn::Stack:
      need(1, 2);
      return StackFunction(e);
    case Fn::ZAbs: {
      need(1, 1);
      Number n = arg(0).num();
      return Value::Num(n.IsNegative() ? Negate(n) : n);
    }
    case Fn::ZSqr: {
      need(1, 1);
      Number n = arg(0).num();
      if (n.IsNegative()) Throw("ILLEGAL VALUE");
      Number half;
      half.mant = 5;
      half.exp = -1;
      return Value::Num(Pow(n, half));
    }
    case Fn::ZCRC: {
      need(2, 3);
      const auto sum = ZCrc(arg(0).str(), int_arg(1), argc > 2 ? int_arg(2) : 0);
      if (!sum) Throw("FUNCTION");
      return Value::Int(*sum);
    }
    case Fn::ZHex: {
      need(1, 1);
      Value v = arg(0);
      if (v.IsCanonicalNumber()) {
        std::int64_t n = v.Int64();
        char buf[24];
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(n));
        return Value::Str(buf);
      }
      return Value::Int(static_cast<std::int64_t>(std::strtoull(v.str().c_str(), nullptr, 16)));
    }
    case Fn::ZStrip: {
      need(2, 4);
      std::string s = arg(0).str(), mask = arg(1).str();
      std::string extra_remove = argc > 2 ? arg(2).str() : std::string();
      std::string keep = argc > 3 ? arg(3).str() : std::string();
      char action = mask.empty() ? '*' : mask[0];
      std::string classes = mask.size() > 1 ? mask.substr(1) : std::string();
      auto strip = [&](unsigned char c) {
        if (keep.find(static_cast<char>(c)) != std::string::npos) return false;
        if (extra_remove.find(static_cast<char>(c)) != std::string::npos) return true;
        for (char k : classes) {
          switch (Upper(static_cast<unsigned char>(k))) {
            case 'W':
              if (c == ' ' || c == '\t') return true;
              break;
            case 'C':
              if (c < 32 || c == 127) return true;
              break;
            case 'P':
              if (c >= 32 && c < 127 && !std::isalnum(c)) return true;
              break;
            case 'A':
              if (std::isalpha(c)) return true;
              break;
            case 'N':
              if (std::isdigit(c)) return true;
              break;
            case 'L':
              if (std::islower(c)) return true;
              break;
            case 'U':
              if (std::isupper(c)) return true;
              break;
            case 'E':
              return true;
            default:
              break;
          }
        }
        return false;
      };
      bool left = action == '<' || mask.find('<') != std::string::npos;
      bool right = action == '>' || mask.find('>') != std::string::npos;
      bool all = action == '*';
      if (left || right) {
        classes.erase(std::remove_if(classes.begin(), classes.end(), [](char c) { return c == '<' || c == '>'; }),
                      classes.end());
      }
      if (all) {
        std::string out;
        for (char c : s)
          if (!strip(static_cast<unsigned char>(c))) out.push_back(c);
        return Value::Str(std::move(out));
      }
      std::size_t b = 0, en = s.size();
      if (left)
        while (b < en && strip(static_cast<unsigned char>(s[b]))) ++b;
      if (right)
        while (en > b && strip(static_cast<unsigned char>(s[en - 1]))) --en;
      return Value::Str(s.substr(b, en - b));
    }
    default:
      Throw("FUNCTION");
  }
}

Value Interpreter::Special(const Expr& e) {
  switch (static_cast<Sv>(e.op)) {
    case Sv::Horolog:
      return Value::Str(Horolog(false));
    case Sv::ZTimestamp:
      return Value::Str(Horolog(true));
    case Sv::ZHorolog: {
      auto us =
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - kStart).count();
      Number n;
      n.mant = us;
      n.exp = -6;
      return Value::Num(Add(n, Number{}));
    }
    case Sv::IO:
    case Sv::Principal:
      return Value::Str("0");
    case Sv::Job:
      return Value::Int(static_cast<std::int64_t>(job_));
    case Sv::Test:
      return Value::Bool(test_);
    case Sv::X:
      return Value::Int(x_);
    case Sv::Y:
      return Value::Int(y_);
    case Sv::Stack:
      return Value::Int(static_cast<std::int64_t>(StackLevel()));
    case Sv::EStack:
      return Value::Int(static_cast<std::int64_t>(StackLevel()) - estack_base_);
    case Sv::ZError:
      return Value::Str(zerror_);
    case Sv::ZTrap:
      return Value::Str(Top().ztrap);
    case Sv::ZNspace:
      return Value::Str(ns_);
    case Sv::ZVersion:
      return Value::Str(host_.ZVersion());
    case Sv::ZName: {
      for (auto it = frames_.rbegin(); it != frames_.rend(); ++it)
        if ((*it)->routine) return Value::Str((*it)->routine->name);
      return Value();
    }
    case Sv::Quit: {
      for (auto it = frames_.rbegin(); it != frames_.rend(); ++it)
        if (!(*it)->xecute) return Value::Bool((*it)->extrinsic);
      return Value::Int(0);
    }
    case Sv::Storage:
      return Value::Int(2147483647);
    case Sv::ZStorage:
      return Value::Int(262144);
    case Sv::ZChild:
      return Value::Int(static_cast<std::int64_t>(last_child_));
    case Sv::ZParent:
      return Value::Int(static_cast<std::int64_t>(parent_job_));
    case Sv::ZReference:
      if (!naked_valid_) return Value();
      {
        Ref r;
        r.global = true;
        r.name = naked_name_;
        r.subs = naked_subs_;
        // A reference into another namespace keeps its extended form.
        std::string name = FormatName(r);
        if (naked_ns_ != ns_ && naked_ns_ != "%SYS") name.insert(1, "|\"" + naked_ns_ + "\"|");
        return Value::Str(std::move(name));
      }
    case Sv::ECode:
      return Value::Str(ecode_);
    case Sv::ETrap:
      return Value::Str(etrap_);
    case Sv::ZTimezone:
      return Value::Int(-host_.UtcOffsetSeconds(host_.Now()) / 60);
    case Sv::TLevel:
      return Value::Int(tlevel_);
    case Sv::TRestart:
      return Value::Int(trestart_);
    // The standard form: implementation number, a comma, the system's name
    // (0: no number assigned to this implementation).
    case Sv::System:
      return Value::Str("0,VELMORA:MENGINE");
    default:
      return Value();
  }
}

void Interpreter::SetSpecial(const Expr& e, const Value& v) {
  switch (static_cast<Sv>(e.op)) {
    case Sv::ZTrap: {
      Frame& f = Top();
      // An XECUTE sets the trap of the frame that runs it.
      Frame* target = &f;
      for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
        if (!(*it)->xecute) {
          target = it->get();
          break;
        }
      }
      target->ztrap = v.str();
      target->ztrap_here = !target->ztrap.empty();
      for (auto it = frames_.rbegin(); it != frames_.rend() && it->get() != target; ++it) (*it)->ztrap = v.str();
      return;
    }
    case Sv::ZError:
      zerror_ = v.str();
      return;
    case Sv::ECode:
      SetECode(v.str());
      return;
    case Sv::ETrap:
      etrap_ = v.str();
      return;
    case Sv::X:
      x_ = v.Int64();
      return;
    case Sv::Y:
      y_ = v.Int64();
      return;
    case Sv::Test:
      test_ = v.truth();
      return;
    case Sv::ZNspace:
      if (!SetNamespace(v.str())) Throw("NAMESPACE", "*" + v.str());
      return;
    default:
      Throw("SYNTAX");
  }
}

}  // namespace mengine
