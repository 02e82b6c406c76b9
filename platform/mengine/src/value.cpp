// M value helpers.
#include "value.h"

#include "mengine/keycodec.h"

namespace mengine {

void Value::DropCache::operator()(PieceCache* c) const { delete c; }

bool Value::IsCanonicalNumber() const {
  if (!(has_ & kStr)) return true;
  return keycodec::IsCanonicalNumber(s_);
}

}  // namespace mengine
