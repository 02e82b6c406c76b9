// The one guard on recursion that the code being run can drive: the parser
// (nesting and operator chains), the evaluator, pattern alternation and
// indirection each count their depth in a counter of their own and use this
// guard to raise an M error past their limit (see Limits), instead of
// exhausting the native stack.
#pragma once

#include "errors.h"

namespace mengine {

class DepthGuard {
 public:
  // Counts one level in `depth`; past `max` raises <error> and counts nothing.
  DepthGuard(int& depth, int max, const char* error) : depth_(&depth) {
    if (++*depth_ > max) {
      --*depth_;
      depth_ = nullptr;
      Throw(error);
    }
  }
  DepthGuard(DepthGuard&& other) noexcept : depth_(other.depth_) { other.depth_ = nullptr; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  DepthGuard& operator=(DepthGuard&&) = delete;
  ~DepthGuard() {
    if (depth_) --*depth_;
  }

 private:
  int* depth_;
};

}  // namespace mengine
