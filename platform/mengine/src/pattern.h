// M pattern match (the ? operator): counts, the standard codes
// A C E L N P U, string literals and alternation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lexer.h"

namespace mengine {

struct Pattern;

struct PatternAtom {
  int min = 0;
  int max = 0;         // -1: no upper bound
  unsigned codes = 0;  // bit set of code classes
  bool is_literal = false;
  std::string literal;
  std::vector<Pattern> alternatives;  // when not empty: an alternation
};

struct Pattern {
  std::vector<PatternAtom> atoms;
};

// Parses a pattern at the lexer's position (up to a blank, ',', ')' or ':'
// that is not inside it). Nested alternation counts in `depth` toward
// `max_nesting`, as the parser's own nesting does. Throws <SYNTAX>.
std::shared_ptr<Pattern> ParsePattern(Lexer& lex, int& depth, int maxNesting);
// Parses a whole pattern text (for ?@expr).
std::shared_ptr<Pattern> ParsePatternText(std::string_view text, int maxNesting);

// Whole-subject match. Time and memory grow with the subject's length times
// the pattern's size, and for alternation with the square of the length;
// `budget` bounds the alternation work (about one unit per subject byte per
// repetition tried): beyond it <COMPLEX PATTERN>.
bool MatchPattern(const Pattern& pattern, std::string_view subject, std::uint64_t budget);

}  // namespace mengine
