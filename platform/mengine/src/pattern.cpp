// M pattern match by backtracking over the pattern's atoms.
#include "pattern.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <utility>

#include "depth.h"

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

struct PatternParser {
  Lexer& lex;
  int& depth;
  int max_nesting;
};

Pattern ParseSequence(PatternParser& pp);

PatternAtom ParseAtom(PatternParser& pp) {
  Lexer& lex = pp.lex;
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
    DepthGuard guard(pp.depth, pp.max_nesting, "SYNTAX");
    for (;;) {
      atom.alternatives.push_back(ParseSequence(pp));
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

Pattern ParseSequence(PatternParser& pp) {
  Lexer& lex = pp.lex;
  Pattern p;
  while (!lex.AtEnd()) {
    char c = lex.Peek();
    if (!(Lexer::IsDigit(c) || c == '.')) break;
    p.atoms.push_back(ParseAtom(pp));
  }
  if (p.atoms.empty()) Throw("SYNTAX");
  return p;
}

// Matching works on sets of positions: for each atom, the set of positions
// where it can end given the set where it may start. A set is one byte per
// position of the subject (0..size). Alternatives are matched from each start
// position once and remembered, so nested and repeated alternation costs
// polynomial time instead of backtracking's exponential time. Work spent on
// alternation (one unit per position of a set made) is bounded by `budget`:
// beyond it the match ends in <COMPLEX PATTERN>.
class Matcher {
 public:
  using Set = std::vector<char>;

  Matcher(std::string_view s, std::uint64_t budget) : s_(s), n_(s.size()), budget_(budget) {}

  // The pattern itself costs its size times the subject's length, whatever
  // the budget; only alternation is charged.
  bool Matches(const Pattern& p) { return Ends(p, 0, false)[n_] != 0; }

 private:
  void Charge(std::uint64_t units) {
    work_ += units;
    if (work_ > budget_) Throw("COMPLEX PATTERN");
  }

  // Positions where `p` can end when it starts at `pos`.
  const Set& Ends(const Pattern& p, std::size_t pos, bool charged = true) {
    auto key = std::make_pair(&p, pos);
    auto it = memo_.find(key);
    if (it != memo_.end()) return it->second;
    if (charged) Charge((n_ + 1) * p.atoms.size());
    Set from(n_ + 1, 0);
    from[pos] = 1;
    Set to;
    for (const auto& atom : p.atoms) {
      AtomEnds(atom, from, to);
      from.swap(to);
    }
    return memo_.emplace(key, std::move(from)).first->second;
  }

  void AtomEnds(const PatternAtom& a, const Set& from, Set& to) {
    to.assign(n_ + 1, 0);
    const std::size_t max =
        a.max < 0 ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(a.max);
    const auto min = static_cast<std::size_t>(a.min);
    if (!a.alternatives.empty()) return AlternationEnds(a, from, to);
    if (a.is_literal) return LiteralEnds(a.literal, min, max, from, to);
    // run[i]: how many characters of the class follow position i.
    std::vector<std::size_t> run(n_ + 1, 0);
    for (std::size_t i = n_; i-- > 0;)
      run[i] = MatchesAtomChar(a, static_cast<unsigned char>(s_[i])) ? run[i + 1] + 1 : 0;
    std::vector<int> diff(n_ + 2, 0);
    for (std::size_t p = 0; p <= n_; ++p) {
      if (!from[p] || run[p] < min) continue;
      ++diff[p + min];
      --diff[p + std::min(run[p], max) + 1];
    }
    int level = 0;
    for (std::size_t i = 0; i <= n_; ++i) to[i] = (level += diff[i]) > 0;
  }

  void LiteralEnds(const std::string& lit, std::size_t min, std::size_t max, const Set& from, Set& to) {
    const std::size_t len = lit.size();
    if (len == 0) {
      to = from;  // any count of "" matches nothing
      return;
    }
    // reps[i]: how many copies of the literal follow position i.
    std::vector<std::size_t> reps(n_ + 1, 0);
    for (std::size_t i = n_ + 1; i-- > 0;)
      if (i + len <= n_ && s_.compare(i, len, lit) == 0) reps[i] = 1 + reps[i + len];
    // Ends p + k*len for k in min..min(reps, max): a difference array walked
    // with stride len.
    std::vector<int> diff(n_ + len + 1, 0);
    for (std::size_t p = 0; p <= n_; ++p) {
      if (!from[p] || reps[p] < min) continue;
      ++diff[p + min * len];
      std::size_t stop = p + (std::min(reps[p], max) + 1) * len;
      if (stop < diff.size()) --diff[stop];
    }
    for (std::size_t i = 0; i <= n_; ++i) {
      if (i >= len) diff[i] += diff[i - len];
      to[i] = diff[i] > 0;
    }
  }

  void AlternationEnds(const PatternAtom& a, const Set& from, Set& to) {
    Set current = from, next(n_ + 1, 0), seen(n_ + 1, 0);
    for (std::int64_t count = 0;; ++count) {
      bool enough = count >= a.min;
      if (enough) {
        // Positions already reached with enough repetitions lead nowhere new.
        bool fresh = false;
        for (std::size_t i = 0; i <= n_; ++i) {
          if (current[i] && !seen[i]) {
            seen[i] = to[i] = 1;
            fresh = true;
          }
        }
        if (!fresh || (a.max >= 0 && count >= a.max)) return;
      }
      Charge(n_ + 1);
      std::fill(next.begin(), next.end(), 0);
      bool any = false;
      for (std::size_t p = 0; p <= n_; ++p) {
        if (!current[p]) continue;
        for (const auto& alt : a.alternatives) {
          const Set& ends = Ends(alt, p);
          for (std::size_t i = p; i <= n_; ++i)
            if (ends[i]) next[i] = any = true;
        }
      }
      if (!any) return;  // no further repetition: fewer than the minimum fail
      if (!enough && next == current) {
        // Empty repetitions only: every missing one can be empty.
        count = a.min - 1;
      }
      current.swap(next);
    }
  }

  std::string_view s_;
  std::size_t n_;
  std::uint64_t budget_;
  std::uint64_t work_ = 0;
  std::map<std::pair<const Pattern*, std::size_t>, Set> memo_;
};

}  // namespace

std::shared_ptr<Pattern> ParsePattern(Lexer& lex, int& depth, int max_nesting) {
  PatternParser pp{lex, depth, max_nesting};
  return std::make_shared<Pattern>(ParseSequence(pp));
}

std::shared_ptr<Pattern> ParsePatternText(std::string_view text, int max_nesting) {
  Lexer lex(text);
  int depth = 0;
  auto p = ParsePattern(lex, depth, max_nesting);
  if (!lex.AtEnd()) Throw("SYNTAX");
  return p;
}

bool MatchPattern(const Pattern& pattern, std::string_view subject, std::uint64_t budget) {
  Matcher m(subject, budget);
  return m.Matches(pattern);
}

}  // namespace mengine
