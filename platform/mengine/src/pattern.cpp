// M pattern match by backtracking over the pattern's atoms.
#include "pattern.h"

namespace mengine {
namespace {

enum : unsigned { kA = 1, kC = 2, kL = 4, kN = 8, kP = 16, kU = 32, kE = 64 };

unsigned ClassOf(unsigned char c) {
  if (c < 32 || c == 127) return kC;
  if (c >= '0' && c <= '9') return kN;
  if (c >= 'A' && c <= 'Z') return kU | kA;
  if (c >= 'a' && c <= 'z') return kL | kA;
  if (c < 128) return kP;
  return 0;  // bytes above 127 are only E
}

bool MatchesAtomChar(const PatternAtom& atom, unsigned char c) {
  if (atom.codes & kE) return true;
  return (ClassOf(c) & atom.codes) != 0;
}

int ReadInt(Lexer& lex) {
  int v = 0;
  while (Lexer::IsDigit(lex.Peek())) {
    if (v < 100000000) v = v * 10 + (lex.Next() - '0');
    else lex.Next();
  }
  return v;
}

Pattern ParseSequence(Lexer& lex, bool in_alternation);

PatternAtom ParseAtom(Lexer& lex) {
  PatternAtom atom;
  bool has_digits = Lexer::IsDigit(lex.Peek());
  int first = has_digits ? ReadInt(lex) : 0;
  if (lex.Accept('.')) {
    atom.min = has_digits ? first : 0;
    atom.max = Lexer::IsDigit(lex.Peek()) ? ReadInt(lex) : -1;
  } else {
    if (!has_digits) Throw("SYNTAX");
    atom.min = atom.max = first;
  }
  if (lex.Peek() == '"') {
    atom.is_literal = true;
    atom.literal = lex.StringLiteral();
    return atom;
  }
  if (lex.Accept('(')) {
    for (;;) {
      atom.alternatives.push_back(ParseSequence(lex, true));
      if (lex.Accept(',')) continue;
      lex.Expect(')');
      break;
    }
    return atom;
  }
  for (;;) {
    char c = lex.Peek();
    unsigned code = 0;
    switch (c) {
      case 'A': case 'a': code = kA; break;
      case 'C': case 'c': code = kC; break;
      case 'E': case 'e': code = kE; break;
      case 'L': case 'l': code = kL; break;
      case 'N': case 'n': code = kN; break;
      case 'P': case 'p': code = kP; break;
      case 'U': case 'u': code = kU; break;
      default: break;
    }
    if (!code) break;
    atom.codes |= code;
    lex.Next();
  }
  if (!atom.codes) Throw("SYNTAX");
  return atom;
}

Pattern ParseSequence(Lexer& lex, bool in_alternation) {
  Pattern p;
  while (!lex.AtEnd()) {
    char c = lex.Peek();
    if (!(Lexer::IsDigit(c) || c == '.')) break;
    p.atoms.push_back(ParseAtom(lex));
  }
  if (p.atoms.empty()) Throw("SYNTAX");
  (void)in_alternation;
  return p;
}

struct Matcher {
  std::string_view s;
  int steps = 0;
  int depth = 0;

  bool Match(const std::vector<const PatternAtom*>& atoms, std::size_t ai, std::size_t pos) {
    if (++steps > 2000000) Throw("COMPLEX PATTERN");
    if (ai == atoms.size()) return pos == s.size();
    const PatternAtom& a = *atoms[ai];
    int max = a.max < 0 ? static_cast<int>(s.size() - pos) + 1 : a.max;
    if (a.is_literal) {
      std::size_t p = pos;
      int n = 0;
      if (a.literal.empty()) return Match(atoms, ai + 1, pos);
      std::vector<std::size_t> ends;
      for (; n < a.min; ++n) {
        if (s.substr(p, a.literal.size()) != a.literal) return false;
        p += a.literal.size();
      }
      ends.push_back(p);
      while (n < max && s.substr(p, a.literal.size()) == a.literal) {
        p += a.literal.size();
        ++n;
        ends.push_back(p);
      }
      for (auto it = ends.rbegin(); it != ends.rend(); ++it)
        if (Match(atoms, ai + 1, *it)) return true;
      return false;
    }
    if (!a.alternatives.empty()) return MatchAlternation(atoms, ai, pos, 0, max);
    std::size_t p = pos;
    int n = 0;
    for (; n < a.min; ++n) {
      if (p >= s.size() || !MatchesAtomChar(a, static_cast<unsigned char>(s[p]))) return false;
      ++p;
    }
    std::size_t limit = p;
    while (n < max && limit < s.size() && MatchesAtomChar(a, static_cast<unsigned char>(s[limit]))) {
      ++limit;
      ++n;
    }
    for (std::size_t e = limit + 1; e-- > p;)
      if (Match(atoms, ai + 1, e)) return true;
    return false;
  }

  // One more repetition of the alternation atoms[ai] (count so far `count`).
  bool MatchAlternation(const std::vector<const PatternAtom*>& atoms, std::size_t ai,
                        std::size_t pos, int count, int max) {
    // Each repetition is one level of recursion: bound it.
    struct Depth {
      int& d;
      explicit Depth(int& depth) : d(depth) {
        if (++d > 2000) Throw("COMPLEX PATTERN");
      }
      ~Depth() { --d; }
    } guard(depth);
    const PatternAtom& a = *atoms[ai];
    if (count >= a.min && Match(atoms, ai + 1, pos)) return true;
    if (count >= max) return false;
    for (const auto& alt : a.alternatives) {
      // Match alt then continue with the alternation; try each end position.
      for (std::size_t end = pos; end <= s.size(); ++end) {
        if (++steps > 2000000) Throw("COMPLEX PATTERN");
        if (end == pos) {
          // An empty repetition changes nothing but the count: when one is
          // possible, every missing repetition can be empty.
          if (count >= a.min) continue;
          std::vector<const PatternAtom*> sub;
          for (const auto& x : alt.atoms) sub.push_back(&x);
          Matcher empty{std::string_view(), 0};
          if (empty.Match(sub, 0, 0) && MatchAlternation(atoms, ai, pos, std::min(a.min, max), max))
            return true;
          continue;
        }
        std::vector<const PatternAtom*> sub;
        for (const auto& x : alt.atoms) sub.push_back(&x);
        Matcher inner{s.substr(pos, end - pos), 0};
        bool ok = inner.Match(sub, 0, 0);
        steps += inner.steps;
        if (ok && MatchAlternation(atoms, ai, end, count + 1, max)) return true;
      }
    }
    return false;
  }
};

}  // namespace

std::shared_ptr<Pattern> ParsePattern(Lexer& lex) {
  return std::make_shared<Pattern>(ParseSequence(lex, false));
}

std::shared_ptr<Pattern> ParsePatternText(std::string_view text) {
  Lexer lex(text);
  auto p = ParsePattern(lex);
  if (!lex.AtEnd()) Throw("SYNTAX");
  return p;
}

bool MatchPattern(const Pattern& pattern, std::string_view subject) {
  std::vector<const PatternAtom*> atoms;
  for (const auto& a : pattern.atoms) atoms.push_back(&a);
  Matcher m{subject, 0};
  return m.Match(atoms, 0, 0);
}

}  // namespace mengine
