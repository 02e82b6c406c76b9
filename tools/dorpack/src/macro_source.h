// MAC and INC routines: macro source that the server compiles into INT code.
// The installer stores INT code as it stands, so macro source is packed only
// when it holds no macro syntax, and then as INT code.
#pragma once

#include <optional>
#include <string_view>

#include "dorpack/package.h"

namespace dorpack {

enum class SourceKind { kInt, kMac, kInc };

// "INT", "MAC" or "INC" in any letter case; no value for any other type.
std::optional<SourceKind> SourceKindNamed(std::string_view type);
const char* SourceKindName(SourceKind kind);

// Lets an INT routine through. A MAC or INC routine is refused (PackError at
// its first line that holds a "#" directive at the start or a "$$$" macro,
// saying how to export the INT form instead), or taken as INT code with a
// warning when it holds neither.
void AcceptAsIntCode(const RoutineSpec& routine, SourceKind kind, Warnings* warnings);

}  // namespace dorpack
