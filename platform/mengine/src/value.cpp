// M value helpers.
#include "value.h"

#include "mengine/keycodec.h"

namespace mengine {

void Value::DropCache::operator()(PieceCache* c) const { delete c; }

void Value::MakeStr() const {
  s_.clear();
  n_.AppendTo(s_);
  has_ |= kStr;
}

void Value::MakeNum() const {
  n_ = Number::Parse(s_);
  has_ |= kNum;
}

bool Value::IsCanonicalNumber() const {
  if (!(has_ & kStr)) return true;
  return keycodec::IsCanonicalNumber(s_);
}

}  // namespace mengine
