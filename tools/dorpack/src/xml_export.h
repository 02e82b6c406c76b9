// XML exports of routines, as Cache and IRIS write them:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <Export generator="Cache" version="25">
//   <Routine name="VMA" type="INT" languagemode="0"><![CDATA[
//   VMA ; the routine's lines
//    q
//   ]]></Routine>
//   <RoutineBase64 name="VMB" type="INT">Vk1CCiBxCg==</RoutineBase64>
//   <Class name="My.Class">...</Class>
//   </Export>
//
// The text of a Routine is its CDATA section (one line end right after
// "<![CDATA[" is not part of it); a RoutineBase64 carries the routine's bytes
// (routines holding bytes XML cannot carry), read in the manifest's encoding.
// INT routines are taken; MAC and INC go through AcceptAsIntCode; every other
// item of the export (classes, globals, CSP files, other routine types) is
// named in one warning and skipped.
//
// Read with expat on Linux. The Windows build of dorpack refuses XML exports
// with a message that says so: no XML library is packaged for MinGW.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dorpack/package.h"
#include "routine_text.h"

namespace dorpack {

// The routines of an export, each with its file, lines and place. Refused
// (PackError "file:line: ...") when the file is not well-formed XML (a CDATA
// section that never closes, say), is not a Cache or IRIS export, or names a
// routine that is not a routine name.
std::vector<RoutineSpec> ReadXmlExport(std::string_view bytes, const std::string& file, RoutineEncoding base64Encoding,
                                       Warnings* warnings);

}  // namespace dorpack
