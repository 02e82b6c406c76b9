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
    if (v < 100000000)
      v = v * 10 + (lex.Next() - '0');
    else
      lex.Next();
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
      case 'A':
      case 'a':
        code = kA;
        break;
      case 'C':
      case 'c':
        code = kC;
        break;
      case 'E':
      case 'e':
        code = kE;
        break;
      case 'L':
      case 'l':
        code = kL;
        break;
      case 'N':
      case 'n':
        code = kN;
        break;
      case 'P':
      case 'p':
        code = kP;
        break;
      case 'U':
      case 'u':
        code = kU;
        break;
      default:
        break;
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

// Matching works on sets of positions: for each atom, the positions where it
// can end given the positions where it may start (sorted, without
// duplicates). Alternatives are matched once per start position and
// remembered, so nested and repeated alternation costs polynomial time
// instead of backtracking's exponential time. Work on alternation is counted
// (a position produced is one unit, a repetition as many units as the
// subject has bytes) and bounded by `budget`: beyond it <COMPLEX PATTERN>.
class Matcher {
 public:
  using Set = std::vector<std::size_t>;

  Matcher(std::string_view s, std::uint64_t budget) : s_(s), n_(s.size()), budget_(budget) {}

  bool Matches(const Pattern& p) {
    const Set& ends = Ends(p, 0);
    return !ends.empty() && ends.back() == n_;
  }

 private:
  // Only alternation is charged: a pattern without it costs its size times
  // the subject's length, whatever the budget.
  void Charge(std::uint64_t units) {
    if (alternation_depth_ == 0) return;
    work_ += units;
    if (work_ > budget_) Throw("COMPLEX PATTERN");
  }

  // Positions where `p` can end when it starts at `pos`.
  const Set& Ends(const Pattern& p, std::size_t pos) {
    auto key = std::make_pair(&p, pos);
    auto it = memo_.find(key);
    if (it != memo_.end()) return it->second;
    Set from{pos}, to;
    for (const auto& atom : p.atoms) {
      AtomEnds(atom, from, to);
      from.swap(to);
      if (from.empty()) break;
    }
    return memo_.emplace(key, std::move(from)).first->second;
  }

  void AtomEnds(const PatternAtom& a, const Set& from, Set& to) {
    to.clear();
    const std::size_t max = a.max < 0 ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(a.max);
    const auto min = static_cast<std::size_t>(a.min);
    if (!a.alternatives.empty()) {
      AlternationEnds(a, from, to);
    } else if (a.is_literal) {
      LiteralEnds(a, min, max, from, to);
    } else {
      // A run of the class from p: ends p+min .. p+min(run, max); the
      // intervals start in order, so their union is built in one pass.
      const std::vector<std::size_t>& run = Runs(a);
      std::size_t next_free = 0;  // positions below it are already in `to`
      for (std::size_t p : from) {
        if (run[p] < min) continue;
        std::size_t hi = p + std::min(run[p], max);
        for (std::size_t e = std::max(p + min, next_free); e <= hi; ++e) to.push_back(e);
        next_free = std::max(next_free, hi + 1);
      }
    }
    Charge(to.size() + 1);
  }

  // run[i]: how many characters of the atom's class follow position i.
  const std::vector<std::size_t>& Runs(const PatternAtom& a) {
    auto [it, fresh] = runs_.try_emplace(&a);
    if (fresh) {
      Charge(n_ + 1);
      it->second.assign(n_ + 1, 0);
      for (std::size_t i = n_; i-- > 0;)
        it->second[i] = MatchesAtomChar(a, static_cast<unsigned char>(s_[i])) ? it->second[i + 1] + 1 : 0;
    }
    return it->second;
  }

  void LiteralEnds(const PatternAtom& a, std::size_t min, std::size_t max, const Set& from, Set& to) {
    const std::string& lit = a.literal;
    const std::size_t len = lit.size();
    if (len == 0) {
      to = from;  // any count of "" matches nothing
      return;
    }
    // reps[i]: how many copies of the literal follow position i.
    auto [it, fresh] = runs_.try_emplace(&a);
    std::vector<std::size_t>& reps = it->second;
    if (fresh) {
      Charge(n_ + 1);
      reps.assign(n_ + 1, 0);
      for (std::size_t i = n_ + 1; i-- > 0;)
        if (i + len <= n_ && s_.compare(i, len, lit) == 0) reps[i] = 1 + reps[i + len];
    }
    if (from.size() <= 4) {
      // Few starts (an alternative from one position): list the ends.
      for (std::size_t p : from) {
        if (reps[p] < min) continue;
        std::size_t top = std::min(reps[p], max);
        for (std::size_t k = min; k <= top; ++k) to.push_back(p + k * len);
      }
      std::sort(to.begin(), to.end());
      to.erase(std::unique(to.begin(), to.end()), to.end());
      return;
    }
    // Many starts: ends p + k*len for k in min..min(reps, max) are marked in
    // a difference array walked with stride len, in time linear in the subject.
    std::vector<int> diff(n_ + len + 1, 0);
    for (std::size_t p : from) {
      if (reps[p] < min) continue;
      ++diff[p + min * len];
      std::size_t stop = p + (std::min(reps[p], max) + 1) * len;
      if (stop < diff.size()) --diff[stop];
    }
    for (std::size_t i = 0; i <= n_; ++i) {
      if (i >= len) diff[i] += diff[i - len];
      if (diff[i] > 0) to.push_back(i);
    }
  }

  void AlternationEnds(const PatternAtom& a, const Set& from, Set& to) {
    // Positions reached with `count` repetitions; once there are enough,
    // only positions not reached before can lead anywhere new (a position
    // reached again with more repetitions has fewer left to make).
    struct Inside {
      int& depth;
      explicit Inside(int& d) : depth(++d) {}
      ~Inside() { --depth; }
    } inside(alternation_depth_);
    std::vector<char> seen(n_ + 1, 0);
    Set current = from, next;
    std::vector<char> mark(n_ + 1, 0);
    for (std::int64_t count = 0;; ++count) {
      Charge(n_ + 1);  // a repetition is counted as a pass over the subject
      const bool enough = count >= a.min;
      if (enough) {
        Set fresh;
        for (std::size_t p : current)
          if (!seen[p]) {
            seen[p] = 1;
            fresh.push_back(p);
          }
        if (fresh.empty() || (a.max >= 0 && count >= a.max)) break;
        current.swap(fresh);
      }
      next.clear();
      for (std::size_t p : current) {
        for (const auto& alt : a.alternatives) {
          const Set& ends = Ends(alt, p);
          Charge(ends.size() + 1);
          for (std::size_t e : ends)
            if (!mark[e]) {
              mark[e] = 1;
              next.push_back(e);
            }
        }
      }
      for (std::size_t e : next) mark[e] = 0;
      if (next.empty()) break;  // no further repetition: fewer than the minimum fail
      std::sort(next.begin(), next.end());
      if (!enough && next == current) count = a.min - 1;  // only empty repetitions
      current.swap(next);
    }
    for (std::size_t i = 0; i <= n_; ++i)
      if (seen[i]) to.push_back(i);
    Charge(n_ + 1);
  }

  std::string_view s_;
  std::size_t n_;
  std::uint64_t budget_;
  std::uint64_t work_ = 0;
  int alternation_depth_ = 0;
  std::map<std::pair<const Pattern*, std::size_t>, Set> memo_;
  std::map<const PatternAtom*, std::vector<std::size_t>> runs_;
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
