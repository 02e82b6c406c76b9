// An M value: a byte string that also knows its number, each form made from
// the other on first use.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "number.h"

namespace mengine {

// Where $PIECE last found a piece of this value: piece `piece` of the
// delimiter `delimiter` starts at byte `offset`, and the piece after it at
// `next` (npos when not known). Kept with the value, so that a loop over the
// pieces of one string neither rescans it from the start nor scans any piece
// twice; any change of the value drops it.
struct PieceCache {
  std::string delimiter;
  std::int64_t piece = 1;
  std::size_t offset = 0;
  std::size_t next = std::string::npos;
};

class Value {
 public:
  // A value without its string form (a computed number) copies and moves
  // only the number: the string is made again when it is asked for.
  Value() : has_(kStr) {}
  Value(const Value& o) : n_(o.n_), has_(o.has_) {
    if (has_ & kStr) s_ = o.s_;
  }
  Value(Value&& o) noexcept : n_(o.n_), has_(o.has_), piece_(std::move(o.piece_)) {
    if (has_ & kStr) s_ = std::move(o.s_);
  }
  Value& operator=(const Value& o) {
    if (this != &o) {
      if (o.has_ & kStr) s_ = o.s_;
      n_ = o.n_;
      has_ = o.has_;
      piece_.reset();
    }
    return *this;
  }
  Value& operator=(Value&& o) noexcept {
    if (o.has_ & kStr) s_ = std::move(o.s_);
    n_ = o.n_;
    has_ = o.has_;
    if (piece_ || o.piece_) piece_ = std::move(o.piece_);
    return *this;
  }
  [[gnu::always_inline]] ~Value() = default;
  PieceCache& piece_cache() const {
    if (!piece_) piece_.reset(new PieceCache);
    return *piece_;
  }
  bool has_piece_cache() const { return piece_ != nullptr; }
  static Value Str(std::string s) {
    Value v;
    v.s_ = std::move(s);
    v.has_ = kStr;
    return v;
  }
  // Bytes pos..pos+n of s, copied straight into the new value.
  static Value Str(const std::string& s, std::size_t pos, std::size_t n) {
    pos = std::min(pos, s.size());
    return Value(s.data() + pos, std::min(n, s.size() - pos));
  }
  static Value Num(const Number& n) {
    Value v;
    v.n_ = n;
    v.has_ = kNum;
    return v;
  }
  static Value Int(std::int64_t i) { return Num(Number::FromInt(i)); }
  static Value Bool(bool b) { return Num(Number::FromInt(b ? 1 : 0)); }

  // Each form is made on first use, out of line: reading a form that is
  // there stays a test and a load.
  const std::string& str() const {
    if (!(has_ & kStr)) MakeStr();
    return s_;
  }
  const Number& num() const {
    if (!(has_ & kNum)) MakeNum();
    return n_;
  }
  // Makes this value the number n; the old string's buffer stays for reuse.
  void SetNum(const Number& n) {
    n_ = n;
    has_ = kNum;
    piece_.reset();
  }
  // Appends to the string form (the number form is dropped).
  void Append(std::string_view tail) {
    str();
    s_.append(tail);
    has_ = kStr;
    piece_.reset();
  }
  bool IsNumberOnly() const { return !(has_ & kStr); }
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
    piece_.reset();
    return s;
  }

 private:
  Value(const char* bytes, std::size_t n) : s_(bytes, n), has_(kStr) {}
  // Deleting the cache is out of line so that destroying a value, done for
  // every temporary, stays small enough to inline.
  struct DropCache {
    void operator()(PieceCache* c) const;
  };
  static constexpr std::uint8_t kStr = 1, kNum = 2;
  void MakeStr() const;
  void MakeNum() const;
  mutable std::string s_;
  mutable Number n_;
  mutable std::uint8_t has_;
  mutable std::unique_ptr<PieceCache, DropCache> piece_;
};

}  // namespace mengine
