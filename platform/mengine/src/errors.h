// M errors as the engine raises them: an error name ("UNDEFINED") and an
// optional detail ("*x"); the interpreter adds where it happened.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace mengine {

struct MError {
  std::string name;          // without the angle brackets
  std::string detail;        // e.g. "*x", may be empty
  bool untrappable = false;  // budget exhaustion: no $ZTRAP catches it
  bool located = false;      // $ZE already set where it happened
  bool coded = false;        // $ECODE already holds it (SET $ECODE, an error passed up a level)
  std::uint64_t exception = 0;  // THROW: the exception value thrown again
};

[[noreturn]] inline void Throw(std::string name, std::string detail = {}) {
  throw MError{std::move(name), std::move(detail), false, false};
}

}  // namespace mengine
