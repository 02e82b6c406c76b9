// UDL routine files (.int, .mac, .inc) as the ObjectScript editors export
// them: a first line "ROUTINE name [Type=INT]" that is a header, not code.
// The type may be absent (meaning MAC) and other attributes may follow it
// ("[Type=INT,Generated]"). A file whose first line does not start with
// "ROUTINE " has no header; its kind is its extension's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "macro_source.h"

namespace dorpack {

struct UdlHeader {
  std::string name;
  SourceKind kind = SourceKind::kMac;
};

// Whether the line is a UDL header line (it starts with "ROUTINE ").
bool IsUdlHeaderLine(std::string_view line);

// The header of a line that IsUdlHeaderLine: PackError at `origin` when the
// name is not a routine name, the brackets do not close, or the type is none
// of INT, MAC and INC.
UdlHeader ParseUdlHeader(std::string_view line, const Origin& origin);

// The header line that names an INT routine.
std::string UdlHeaderLine(std::string_view name);

}  // namespace dorpack
