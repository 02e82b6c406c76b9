// M numbers: a decimal significand of at most 18 digits and a power of ten.
// Never binary floating point, so 0.1+0.2 is exactly .3.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mengine {

struct Number {
  std::int64_t mant = 0;  // |mant| < 10^18; no trailing zero digit unless 0
  int exp = 0;            // value = mant * 10^exp

  static constexpr int kDigits = 18;

  bool IsZero() const { return mant == 0; }
  bool IsNegative() const { return mant < 0; }
  bool IsInteger() const { return exp >= 0 || mant == 0; }

  static Number FromInt(std::int64_t v);
  // M numeric interpretation of a string: the longest numeric prefix
  // ("12abc" is 12, "abc" is 0, "--3" is 3, "1E3" is 1000).
  static Number Parse(std::string_view s);
  // Canonical form: "12", "-3.5", ".25", "0".
  std::string ToString() const;
  void AppendTo(std::string& out) const;

  // Truncated toward zero, clamped to the int64 range.
  std::int64_t ToInt64() const;
  Number Truncated() const;
};

// Arithmetic; each throws MError(<MAXNUMBER>) on overflow and <DIVIDE> on
// division by zero (errors.h).
Number AddAligned(const Number& a, const Number& b);
int CompareAligned(const Number& a, const Number& b);

// Integers below 10^18 (exponent 0), the loop counters and sums, add without
// rounding; the rest goes to AddAligned.
inline Number Add(const Number& a, const Number& b) {
  constexpr std::int64_t kLimit = 1000000000000000000LL;
  if (a.exp == 0 && b.exp == 0) {
    std::int64_t sum = a.mant + b.mant;  // |a|, |b| < 10^18: cannot overflow
    if (sum > -kLimit && sum < kLimit) return Number{sum, 0};
  }
  return AddAligned(a, b);
}
Number Sub(const Number& a, const Number& b);
Number Mul(const Number& a, const Number& b);
Number Div(const Number& a, const Number& b);
Number IntDiv(const Number& a, const Number& b);
Number Mod(const Number& a, const Number& b);
Number Pow(const Number& a, const Number& b);
Number Negate(const Number& a);
// -1, 0, 1. Numbers of one exponent compare by their significands.
inline int Compare(const Number& a, const Number& b) {
  if (a.exp == b.exp) return a.mant < b.mant ? -1 : a.mant > b.mant ? 1 : 0;
  return CompareAligned(a, b);
}

}  // namespace mengine
