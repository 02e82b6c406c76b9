// Character-level scanning of M lines.
#include "lexer.h"

namespace mengine {

std::string Lexer::Name() {
  std::size_t start = pos_;
  if (!AtName()) return {};
  ++pos_;
  while (!AtEnd() && (IsAlpha(Peek()) || IsDigit(Peek()))) ++pos_;
  return std::string(text_.substr(start, pos_ - start));
}

std::string Lexer::Label() {
  if (IsDigit(Peek())) {
    std::size_t start = pos_;
    while (!AtEnd() && IsDigit(Peek())) ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }
  return Name();
}

std::optional<Value> Lexer::NumberLiteral() {
  std::size_t start = pos_;
  while (IsDigit(Peek())) ++pos_;
  if (Peek() == '.' && IsDigit(Peek(1))) {
    ++pos_;
    while (IsDigit(Peek())) ++pos_;
  } else if (Peek() == '.' && pos_ > start) {
    ++pos_;  // "1." is a valid literal
  }
  if (pos_ == start) return std::nullopt;
  if (Peek() == 'E' || Peek() == 'e') {
    std::size_t save = pos_;
    ++pos_;
    if (Peek() == '+' || Peek() == '-') ++pos_;
    if (!IsDigit(Peek())) {
      pos_ = save;
    } else {
      while (IsDigit(Peek())) ++pos_;
    }
  }
  std::string text(text_.substr(start, pos_ - start));
  for (auto& c : text)
    if (c == 'e') c = 'E';
  return Value::Num(Number::Parse(text));
}

std::string Lexer::StringLiteral() {
  Expect('"');
  std::string out;
  for (;;) {
    if (AtEnd()) Throw("SYNTAX");
    char c = Next();
    if (c == '"') {
      if (Peek() == '"' && !AtEnd()) {
        ++pos_;
        out.push_back('"');
        continue;
      }
      return out;
    }
    out.push_back(c);
  }
}

std::optional<std::pair<Op, bool>> Lexer::BinaryOperator() {
  std::size_t save = pos_;
  bool negated = false;
  if (Peek() == '\'') {
    negated = true;
    ++pos_;
  }
  char c = Peek();
  std::optional<Op> op;
  switch (c) {
    case '+':
      op = Op::Add;
      break;
    case '-':
      op = Op::Sub;
      break;
    case '*':
      if (Peek(1) == '*') {
        ++pos_;
        op = Op::Pow;
      } else {
        op = Op::Mul;
      }
      break;
    case '/':
      op = Op::Div;
      break;
    case '\\':
      op = Op::IntDiv;
      break;
    case '#':
      op = Op::Mod;
      break;
    case '_':
      op = Op::Concat;
      break;
    case '=':
      op = Op::Equal;
      break;
    case '<':
      if (Peek(1) == '=') {
        ++pos_;
        op = Op::LessEq;
      } else {
        op = Op::Less;
      }
      break;
    case '>':
      if (Peek(1) == '=') {
        ++pos_;
        op = Op::GreaterEq;
      } else {
        op = Op::Greater;
      }
      break;
    case ']':
      if (Peek(1) == ']') {
        ++pos_;
        op = Op::SortsAfter;
      } else {
        op = Op::Follows;
      }
      break;
    case '[':
      op = Op::Contains;
      break;
    case '&':
      if (Peek(1) == '&' && !negated) {
        ++pos_;
        op = Op::AndThen;
      } else {
        op = Op::And;
      }
      break;
    case '!':
      op = Op::Or;
      break;
    case '|':
      if (Peek(1) == '|' && !negated) {
        ++pos_;
        op = Op::OrElse;
      }
      break;
    default:
      break;
  }
  if (!op) {
    pos_ = save;
    return std::nullopt;
  }
  ++pos_;
  bool arithmetic = *op == Op::Add || *op == Op::Sub || *op == Op::Mul || *op == Op::Div || *op == Op::IntDiv ||
                    *op == Op::Mod || *op == Op::Pow || *op == Op::Concat;
  if (negated && arithmetic) {
    pos_ = save;
    return std::nullopt;
  }
  return std::make_pair(*op, negated);
}

}  // namespace mengine
