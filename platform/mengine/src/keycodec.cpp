// Subscript key codec (layout described in keycodec.h).
#include "mengine/keycodec.h"

#include <cstdint>

namespace mengine::keycodec {
namespace {

constexpr unsigned char kNegative = 0x3F;
constexpr unsigned char kZero = 0x40;
constexpr unsigned char kPositive = 0x41;
constexpr unsigned char kString = 0x80;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits (no leading/trailing zero) and exponent of a canonical number's
// magnitude, value = 0.digits * 10^exponent.
void SplitCanonical(std::string_view s, std::string& digits, int& exponent) {
  std::size_t dot = s.find('.');
  std::string_view whole = dot == std::string_view::npos ? s : s.substr(0, dot);
  std::string_view frac = dot == std::string_view::npos ? std::string_view{} : s.substr(dot + 1);
  digits.clear();
  if (!whole.empty()) {
    digits.assign(whole);
    exponent = static_cast<int>(whole.size());
    digits.append(frac);
  } else {
    std::size_t zeros = 0;
    while (zeros < frac.size() && frac[zeros] == '0') ++zeros;
    exponent = -static_cast<int>(zeros);
    digits.assign(frac.substr(zeros));
  }
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
}

}  // namespace

bool IsCanonicalNumber(std::string_view s) {
  if (s.empty()) return false;
  std::size_t i = 0;
  if (s[0] == '-') {
    i = 1;
    if (s.size() == 1) return false;
  }
  if (s == "0") return true;
  std::size_t start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  std::size_t whole = i - start;
  if (whole > 0 && s[start] == '0') return false;  // leading zero (and "-0")
  if (i == s.size()) return whole > 0;
  if (s[i] != '.') return false;
  ++i;
  std::size_t frac_start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  if (i != s.size() || i == frac_start) return false;
  return s.back() != '0';
}

std::string EncodeName(std::string_view name) {
  std::string key(name);
  key.push_back('\0');
  return key;
}

void AppendSubscript(std::string& key, std::string_view sub) {
  if (!IsCanonicalNumber(sub)) {
    key.push_back(static_cast<char>(kString));
    for (char c : sub) {
      if (c == '\0' || c == '\x01') {
        key.push_back('\x01');
        key.push_back(c == '\0' ? '\x01' : '\x02');
      } else {
        key.push_back(c);
      }
    }
    key.push_back('\0');
    return;
  }
  if (sub == "0") {
    key.push_back(static_cast<char>(kZero));
    return;
  }
  bool negative = sub[0] == '-';
  std::string digits;
  int exponent = 0;
  SplitCanonical(negative ? sub.substr(1) : sub, digits, exponent);
  AppendNumberSubscript(key, negative, digits, exponent);
}

void AppendNumberSubscript(std::string& key, bool negative, std::string_view digits, int exponent) {
  if (digits.empty()) {
    key.push_back(static_cast<char>(kZero));
    return;
  }
  auto biased = static_cast<std::uint16_t>(exponent + 0x8000);
  if (negative) biased = static_cast<std::uint16_t>(~biased);
  key.push_back(static_cast<char>(negative ? kNegative : kPositive));
  key.push_back(static_cast<char>(biased >> 8));
  key.push_back(static_cast<char>(biased & 0xFF));
  for (char d : digits) {
    auto byte = static_cast<unsigned char>(d);
    key.push_back(static_cast<char>(negative ? static_cast<unsigned char>(~byte) : byte));
  }
  key.push_back(negative ? '\xFF' : '\0');
}

std::string Encode(std::string_view name, std::span<const std::string> subscripts) {
  std::string key = EncodeName(name);
  for (const auto& s : subscripts) AppendSubscript(key, s);
  return key;
}

std::size_t NameLength(std::string_view key) {
  std::size_t zero = key.find('\0');
  return zero == std::string_view::npos ? 0 : zero + 1;
}

std::size_t SubscriptLength(std::string_view key, std::size_t pos) {
  if (pos >= key.size()) return 0;
  auto tag = static_cast<unsigned char>(key[pos]);
  if (tag == kZero) return 1;
  if (tag == kString) {
    for (std::size_t i = pos + 1; i < key.size(); ++i) {
      if (key[i] == '\0') return i + 1 - pos;
      if (key[i] == '\x01') ++i;
    }
    return 0;
  }
  if (tag == kPositive || tag == kNegative) {
    char end = tag == kPositive ? '\0' : '\xFF';
    for (std::size_t i = pos + 3; i < key.size(); ++i)
      if (key[i] == end) return i + 1 - pos;
    return 0;
  }
  return 0;
}

std::optional<std::string> DecodeSubscript(std::string_view key, std::size_t pos) {
  std::size_t len = SubscriptLength(key, pos);
  if (len == 0) return std::nullopt;
  auto tag = static_cast<unsigned char>(key[pos]);
  if (tag == kZero) return std::string("0");
  std::string out;
  if (tag == kString) {
    for (std::size_t i = pos + 1; i + 1 < pos + len; ++i) {
      if (key[i] == '\x01') {
        ++i;
        out.push_back(key[i] == '\x01' ? '\0' : '\x01');
      } else {
        out.push_back(key[i]);
      }
    }
    return out;
  }
  bool negative = tag == kNegative;
  auto hi = static_cast<unsigned char>(key[pos + 1]);
  auto lo = static_cast<unsigned char>(key[pos + 2]);
  auto biased = static_cast<std::uint16_t>((hi << 8) | lo);
  if (negative) biased = static_cast<std::uint16_t>(~biased);
  int exponent = static_cast<int>(biased) - 0x8000;
  std::string digits;
  for (std::size_t i = pos + 3; i + 1 < pos + len; ++i) {
    auto byte = static_cast<unsigned char>(key[i]);
    digits.push_back(static_cast<char>(negative ? static_cast<unsigned char>(~byte) : byte));
  }
  if (negative) out.push_back('-');
  auto n = static_cast<int>(digits.size());
  if (exponent <= 0) {
    out.push_back('.');
    out.append(static_cast<std::size_t>(-exponent), '0');
    out.append(digits);
  } else if (exponent >= n) {
    out.append(digits);
    out.append(static_cast<std::size_t>(exponent - n), '0');
  } else {
    out.append(digits.substr(0, static_cast<std::size_t>(exponent)));
    out.push_back('.');
    out.append(digits.substr(static_cast<std::size_t>(exponent)));
  }
  return out;
}

bool Decode(std::string_view key, std::string& name, std::vector<std::string>& subscripts) {
  std::size_t pos = NameLength(key);
  if (pos == 0) return false;
  name.assign(key.substr(0, pos - 1));
  subscripts.clear();
  while (pos < key.size()) {
    auto sub = DecodeSubscript(key, pos);
    if (!sub) return false;
    pos += SubscriptLength(key, pos);
    subscripts.push_back(std::move(*sub));
  }
  return true;
}

std::size_t SubscriptCount(std::string_view key) {
  std::size_t pos = NameLength(key);
  std::size_t count = 0;
  while (pos != 0 && pos < key.size()) {
    std::size_t len = SubscriptLength(key, pos);
    if (len == 0) break;
    pos += len;
    ++count;
  }
  return count;
}

std::string_view Parent(std::string_view key) {
  std::size_t pos = NameLength(key);
  std::size_t last = pos;
  while (pos != 0 && pos < key.size()) {
    std::size_t len = SubscriptLength(key, pos);
    if (len == 0) break;
    last = pos;
    pos += len;
  }
  return key.substr(0, last);
}

std::string_view ChildOnPath(std::string_view parent, std::string_view descendant) {
  std::size_t len = SubscriptLength(descendant, parent.size());
  return descendant.substr(0, parent.size() + len);
}

}  // namespace mengine::keycodec
