// Decimal arithmetic for M numbers.
#include "number.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "errors.h"

namespace mengine {
namespace {

__extension__ typedef __int128 Wide;

constexpr int kMaxAdjusted = 146;   // magnitudes of 1E146 and more overflow
constexpr int kMinAdjusted = -128;  // magnitudes below 1E-128 become 0

const Wide* Pow10Table() {
  static const auto table = [] {
    std::array<Wide, 39> t{};
    t[0] = 1;
    for (std::size_t i = 1; i < t.size(); ++i) t[i] = t[i - 1] * 10;
    return t;
  }();
  return table.data();
}

Wide Pow10(int n) { return Pow10Table()[n < 0 ? 0 : n > 38 ? 38 : n]; }

int DigitCount(Wide v) {
  if (v < 0) v = -v;
  if (v <= static_cast<Wide>(UINT64_MAX)) {
    auto u = static_cast<std::uint64_t>(v);
    int n = 0;
    static constexpr std::uint64_t kLimits[] = {1ULL,
                                                10ULL,
                                                100ULL,
                                                1000ULL,
                                                10000ULL,
                                                100000ULL,
                                                1000000ULL,
                                                10000000ULL,
                                                100000000ULL,
                                                1000000000ULL,
                                                10000000000ULL,
                                                100000000000ULL,
                                                1000000000000ULL,
                                                10000000000000ULL,
                                                100000000000000ULL,
                                                1000000000000000ULL,
                                                10000000000000000ULL,
                                                100000000000000000ULL,
                                                1000000000000000000ULL,
                                                10000000000000000000ULL};
    while (n < 20 && u >= kLimits[n]) ++n;
    return n;
  }
  int n = 0;
  while (v > 0) {
    v /= 10;
    ++n;
  }
  return n;
}

// Rounds |m| * 10^e to 18 digits (half away from zero) and checks range.
Number Normalize(Wide m, long e) {
  Number r;
  if (m == 0) return r;
  bool negative = m < 0;
  if (negative) m = -m;
  int digits = DigitCount(m);
  if (digits > Number::kDigits) {
    int drop = digits - Number::kDigits;
    Wide p = Pow10(drop);
    Wide rest = m % p;
    m /= p;
    e += drop;
    if (rest * 2 >= p) ++m;
    if (m >= Pow10(Number::kDigits)) {
      m /= 10;
      ++e;
    }
  }
  // One form per value: integers below 10^18 have exponent 0, fractions no
  // trailing zero digit.
  auto u = static_cast<std::uint64_t>(m);
  if (e < 0) {
    while (e < 0 && u % 10 == 0) {
      u /= 10;
      ++e;
    }
  } else if (e > 0) {
    while (e > 0 && u < 100000000000000000ULL) {
      u *= 10;
      --e;
    }
  }
  long adjusted = e + DigitCount(u);
  if (adjusted > kMaxAdjusted) Throw("MAXNUMBER");
  if (adjusted < kMinAdjusted) return r;
  r.mant = negative ? -static_cast<std::int64_t>(u) : static_cast<std::int64_t>(u);
  r.exp = static_cast<int>(e);
  return r;
}

// Brings a and b to one exponent so that both fit a Wide without losing any
// digit that can matter to an 18-digit result.
void Align(const Number& a, const Number& b, Wide& ma, Wide& mb, long& e) {
  long adj_a = a.exp + DigitCount(a.mant);
  long adj_b = b.exp + DigitCount(b.mant);
  long top = std::max(a.mant ? adj_a : adj_b, b.mant ? adj_b : adj_a);
  e = std::min(a.mant ? a.exp : b.exp, b.mant ? b.exp : a.exp);
  e = std::max(e, top - 36);
  auto scale = [&](const Number& n) -> Wide {
    Wide m = n.mant;
    if (n.exp >= e) return m * Pow10(static_cast<int>(n.exp - e));
    long down = e - n.exp;
    if (down > 38) return 0;
    return m / Pow10(static_cast<int>(down));
  };
  ma = scale(a);
  mb = scale(b);
}

// True when a and b can be aligned exactly (no digit dropped).
bool AlignExact(const Number& a, const Number& b, Wide& ma, Wide& mb, long& e) {
  e = std::min(a.exp, b.exp);
  long sa = a.exp - e, sb = b.exp - e;
  if (sa > 19 || sb > 19) return false;
  ma = static_cast<Wide>(a.mant) * Pow10(static_cast<int>(sa));
  mb = static_cast<Wide>(b.mant) * Pow10(static_cast<int>(sb));
  return true;
}

}  // namespace

Number Number::FromInt(std::int64_t v) {
  constexpr std::int64_t kLimit = 1000000000000000000LL;
  if (v > -kLimit && v < kLimit) return Number{v, 0};
  return Normalize(v, 0);
}

Number Number::Parse(std::string_view s) {
  std::size_t i = 0;
  bool negative = false;
  while (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') negative = !negative;
    ++i;
  }
  Wide m = 0;
  long e = 0;
  int kept = 0;
  bool round_up = false, rounded = false;
  auto take = [&](char c, bool fraction) {
    int d = c - '0';
    if (kept == 0 && d == 0) {
      if (fraction) --e;
      return;
    }
    if (kept < Number::kDigits + 1) {
      m = m * 10 + d;
      ++kept;
      if (fraction) --e;
    } else {
      if (!fraction) ++e;
      if (!rounded) rounded = true;
    }
  };
  bool any = false;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    take(s[i++], false);
    any = true;
  }
  if (i < s.size() && s[i] == '.' && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      take(s[i++], true);
      any = true;
    }
  }
  (void)round_up;
  if (any && i < s.size() && s[i] == 'E') {
    std::size_t j = i + 1;
    bool eneg = false;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) eneg = s[j++] == '-';
    if (j < s.size() && s[j] >= '0' && s[j] <= '9') {
      long x = 0;
      while (j < s.size() && s[j] >= '0' && s[j] <= '9') {
        if (x < 100000) x = x * 10 + (s[j] - '0');
        ++j;
      }
      e += eneg ? -x : x;
    }
  }
  if (!any || m == 0) return Number{};
  if (e + DigitCount(m) < kMinAdjusted) return Number{};
  return Normalize(negative ? -m : m, e);
}

void Number::AppendTo(std::string& out) const {
  if (mant == 0) {
    out.push_back('0');
    return;
  }
  // The digits are written from the end of buf backwards.
  char buf[24];
  char* end = buf + sizeof buf;
  char* first = end;
  std::uint64_t mag = mant < 0 ? static_cast<std::uint64_t>(-mant) : static_cast<std::uint64_t>(mant);
  do {
    *--first = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag > 0);
  if (exp == 0) {
    // Integers below 10^18, the common case: sign and digits in one append.
    if (mant < 0) *--first = '-';
    out.append(first, static_cast<std::size_t>(end - first));
    return;
  }
  int n = static_cast<int>(end - first);
  const char* digits = first;
  if (mant < 0) out.push_back('-');
  if (exp >= 0) {
    out.append(digits, static_cast<std::size_t>(n));
    out.append(static_cast<std::size_t>(exp), '0');
  } else if (-exp >= n) {
    out.push_back('.');
    out.append(static_cast<std::size_t>(-exp - n), '0');
    out.append(digits, static_cast<std::size_t>(n));
  } else {
    out.append(digits, static_cast<std::size_t>(n + exp));
    out.push_back('.');
    out.append(digits + n + exp, static_cast<std::size_t>(-exp));
  }
}

std::string Number::ToString() const {
  std::string s;
  AppendTo(s);
  return s;
}

std::int64_t Number::ToInt64() const {
  if (mant == 0) return 0;
  if (exp < 0) {
    if (-exp > 18) return 0;
    return mant / static_cast<std::int64_t>(Pow10(-exp));
  }
  Wide v = mant;
  for (int i = 0; i < exp; ++i) {
    v *= 10;
    if (v > std::numeric_limits<std::int64_t>::max()) return std::numeric_limits<std::int64_t>::max();
    if (v < std::numeric_limits<std::int64_t>::min()) return std::numeric_limits<std::int64_t>::min();
  }
  return static_cast<std::int64_t>(v);
}

Number Number::Truncated() const {
  if (exp >= 0 || mant == 0) return *this;
  if (-exp > 18) return Number{};
  return Normalize(mant / static_cast<std::int64_t>(Pow10(-exp)), 0);
}

Number Negate(const Number& a) {
  Number r = a;
  r.mant = -r.mant;
  return r;
}

Number AddAligned(const Number& a, const Number& b) {
  if (a.mant == 0) return b;
  if (b.mant == 0) return a;
  if (a.exp == b.exp) return Normalize(static_cast<Wide>(a.mant) + b.mant, a.exp);
  Wide ma, mb;
  long e;
  Align(a, b, ma, mb, e);
  return Normalize(ma + mb, e);
}

Number Sub(const Number& a, const Number& b) { return Add(a, Negate(b)); }

Number Mul(const Number& a, const Number& b) {
  if (a.mant == 0 || b.mant == 0) return Number{};
  constexpr std::int64_t kSmall = 1000000000LL;
  if (a.exp == 0 && b.exp == 0 && a.mant > -kSmall && a.mant < kSmall && b.mant > -kSmall && b.mant < kSmall)
    return Number{a.mant * b.mant, 0};
  return Normalize(static_cast<Wide>(a.mant) * b.mant, static_cast<long>(a.exp) + b.exp);
}

Number Div(const Number& a, const Number& b) {
  if (b.mant == 0) Throw("DIVIDE");
  if (a.mant == 0) return Number{};
  bool negative = (a.mant < 0) != (b.mant < 0);
  Wide x = a.mant < 0 ? -static_cast<Wide>(a.mant) : a.mant;
  Wide y = b.mant < 0 ? -static_cast<Wide>(b.mant) : b.mant;
  long e = static_cast<long>(a.exp) - b.exp;
  Wide q = x / y, r = x % y;
  while (DigitCount(q) < Number::kDigits + 2 && r != 0) {
    r *= 10;
    q = q * 10 + r / y;
    r %= y;
    --e;
  }
  return Normalize(negative ? -q : q, e);
}

Number IntDiv(const Number& a, const Number& b) {
  if (b.mant == 0) Throw("DIVIDE");
  if (a.exp == 0 && b.exp == 0) return Number{a.mant / b.mant, 0};
  Wide ma, mb;
  long e;
  if (AlignExact(a, b, ma, mb, e)) return Normalize(ma / mb, 0);
  return Div(a, b).Truncated();
}

Number Mod(const Number& a, const Number& b) {
  if (b.mant == 0) Throw("DIVIDE");
  if (a.exp == 0 && b.exp == 0) {
    std::int64_t r = a.mant % b.mant;
    if (r != 0 && ((r < 0) != (b.mant < 0))) r += b.mant;
    return Number{r, 0};
  }
  Wide ma, mb;
  long e;
  if (AlignExact(a, b, ma, mb, e)) {
    Wide r = ma % mb;
    if (r != 0 && ((r < 0) != (mb < 0))) r += mb;
    return Normalize(r, e);
  }
  // Far apart in magnitude: a - b * floor(a / b).
  Number q = Div(a, b);
  Number f = q.Truncated();
  if (Compare(f, q) > 0) f = Sub(f, Number::FromInt(1));
  return Sub(a, Mul(b, f));
}

int CompareAligned(const Number& a, const Number& b) {
  if (a.mant == b.mant && a.exp == b.exp) return 0;
  if ((a.mant < 0) != (b.mant < 0)) return a.mant < 0 ? -1 : 1;
  if (a.mant == 0) return b.mant > 0 ? -1 : 1;
  if (b.mant == 0) return a.mant > 0 ? 1 : -1;
  int sign = a.mant < 0 ? -1 : 1;
  if (a.exp == b.exp) return a.mant < b.mant ? -1 : 1;
  int da = DigitCount(a.mant), db = DigitCount(b.mant);
  long adj_a = a.exp + da, adj_b = b.exp + db;
  if (adj_a != adj_b) return adj_a < adj_b ? -sign : sign;
  Wide xa = a.mant < 0 ? -static_cast<Wide>(a.mant) : a.mant;
  Wide xb = b.mant < 0 ? -static_cast<Wide>(b.mant) : b.mant;
  xa *= Pow10(Number::kDigits - da);
  xb *= Pow10(Number::kDigits - db);
  if (xa == xb) return 0;
  return xa < xb ? -sign : sign;
}

Number Pow(const Number& a, const Number& b) {
  if (b.mant == 0) return Number::FromInt(1);
  if (a.mant == 0) {
    if (b.mant < 0) Throw("DIVIDE");
    return Number{};
  }
  if (b.IsInteger()) {
    std::int64_t n = b.ToInt64();
    bool invert = n < 0;
    std::uint64_t k = invert ? static_cast<std::uint64_t>(-(n + 1)) + 1 : static_cast<std::uint64_t>(n);
    Number result = Number::FromInt(1), base = a;
    while (k > 0) {
      if (k & 1) result = Mul(result, base);
      k >>= 1;
      if (k) base = Mul(base, base);
    }
    return invert ? Div(Number::FromInt(1), result) : result;
  }
  if (a.mant < 0) Throw("ILLEGAL VALUE");
  // A fractional power has no exact decimal result; it is computed in
  // extended precision and rounded to the 18 digits numbers keep.
  long double x = std::strtold(a.ToString().c_str(), nullptr);
  long double y = std::strtold(b.ToString().c_str(), nullptr);
  long double r = std::pow(x, y);
  if (!std::isfinite(r)) Throw("MAXNUMBER");
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17LE", r);
  return Number::Parse(buf);
}

}  // namespace mengine
