// Character-level scanning of one M line: names, numbers, string literals
// and operators. M's grammar depends on position (a blank ends a command
// argument), so the parser drives the scanner token by token.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "ast.h"

namespace mengine {

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek(std::size_t ahead = 0) const { return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0'; }
  char Next() { return AtEnd() ? '\0' : text_[pos_++]; }
  bool Accept(char c) {
    if (Peek() == c && !AtEnd()) {
      ++pos_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Accept(c)) Throw("SYNTAX");
  }
  std::size_t pos() const { return pos_; }
  void set_pos(std::size_t p) { pos_ = p; }
  std::string_view text() const { return text_; }
  std::string_view Rest() const { return text_.substr(pos_ < text_.size() ? pos_ : text_.size()); }
  // Blank, end of line or comment: the end of a command's arguments.
  bool AtArgumentEnd() const { return AtEnd() || Peek() == ' ' || Peek() == '\t'; }

  static bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  bool AtName() const { return IsAlpha(Peek()) || (Peek() == '%' && !AtEnd()); }

  // Name: '%' or a letter, then letters and digits. Empty when none here.
  std::string Name();
  // Label: a name or digits.
  std::string Label();
  // Numeric literal at the current position (digits, '.', exponent).
  std::optional<Value> NumberLiteral();
  // String literal with "" for a quote; the opening quote must be next.
  std::string StringLiteral();
  // Binary operator (with a leading ' for the negated forms); nothing when
  // the next characters are not one.
  std::optional<std::pair<Op, bool>> BinaryOperator();

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace mengine
