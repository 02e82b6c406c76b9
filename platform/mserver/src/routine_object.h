// The value of ^rOBJ(name): what a routine runs from. The engine builds its
// tree from the routine's lines, so the object keeps them next to the
// engine's compiled form; a routine therefore runs whether or not its source
// in ^ROUTINE is still there.
//
// Layout: "MSOBJ1" then, each as a 4-byte big-endian length and the bytes,
// the compiled form and every line in order.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mserver {

struct RoutineObject {
  std::string compiled;
  std::vector<std::string> lines;
};

std::string EncodeRoutineObject(const RoutineObject& object);
// Nothing when the bytes are not a routine object (damaged or foreign).
std::optional<RoutineObject> DecodeRoutineObject(std::string_view bytes);

}  // namespace mserver
