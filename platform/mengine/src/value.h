// An M value: a byte string that also knows its number, each form made from
// the other on first use.
#ifndef MENGINE_VALUE_H
#define MENGINE_VALUE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "number.h"

namespace mengine {

class Value {
 public:
  Value() : has_(kStr) {}
  static Value Str(std::string s) {
    Value v;
    v.s_ = std::move(s);
    v.has_ = kStr;
    return v;
  }
  static Value Num(const Number& n) {
    Value v;
    v.n_ = n;
    v.has_ = kNum;
    return v;
  }
  static Value Int(std::int64_t i) { return Num(Number::FromInt(i)); }
  static Value Bool(bool b) { return Num(Number::FromInt(b ? 1 : 0)); }

  const std::string& str() const {
    if (!(has_ & kStr)) {
      s_.clear();
      n_.AppendTo(s_);
      has_ |= kStr;
    }
    return s_;
  }
  const Number& num() const {
    if (!(has_ & kNum)) {
      n_ = Number::Parse(s_);
      has_ |= kNum;
    }
    return n_;
  }
  // Appends to the string form (the number form is dropped).
  void Append(std::string_view tail) {
    str();
    s_.append(tail);
    has_ = kStr;
  }
  bool truth() const { return !num().IsZero(); }
  std::int64_t Int64() const { return num().ToInt64(); }
  // True when the value is a canonical number (a number made by arithmetic
  // always is; a string only in canonical form).
  bool IsCanonicalNumber() const;
  // Moves the string form out (the value becomes "").
  std::string TakeStr() {
    str();
    std::string s = std::move(s_);
    s_.clear();
    has_ = kStr;
    return s;
  }

 private:
  static constexpr std::uint8_t kStr = 1, kNum = 2;
  mutable std::string s_;
  mutable Number n_;
  mutable std::uint8_t has_;
};

}  // namespace mengine

#endif
