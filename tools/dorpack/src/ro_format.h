// Routine output files: many routines in one text file, as the routine
// output utility ^%RO writes them on Cache and on GT.M/YottaDB (.ro, .rsa,
// and .rtn files that hold several routines).
//
//   line 1        header (Cache: "Cache for UNIX^INT^comment^~Format=Cache.S~";
//                 GT.M/YottaDB: the label the user typed)
//   line 2        header (Cache: "%RO on 09 Dec 2026  10:20 AM";
//                 GT.M/YottaDB: "GT.M 09-DEC-2026 10:20:31")
//   per routine   a name line (a bare name "VMA", or Cache's
//                 "VMA^INT^1^66087,37231.5^0"), the routine's lines, and an
//                 empty line
//   at the end    an empty line where the next name would be (GT.M writes
//                 two); nothing but empty lines may follow it
//
// Lines end in LF or CR LF. A routine line cannot be empty (the empty line
// ends the routine), so GT.M writes an empty line of a routine as one blank.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "dorpack/package.h"
#include "routine_text.h"

namespace dorpack {

// Whether the text begins like a routine output file of Cache or GT.M/
// YottaDB: one of their second header lines (or Cache's "~Format=" first
// line) and a name line after them. Decides what a .rtn file holds.
bool LooksLikeRoutineOutput(std::string_view text);

// The routines of a routine output file, each with its file, lines and place.
// Refused (PackError "file:line: ...") when the file ends inside its header
// or a routine or before the empty line that closes it, when a name line does
// not name a routine, when a routine's type is none of INT, MAC and INC, and
// when text follows the end. MAC and INC routines go through AcceptAsIntCode.
std::vector<RoutineSpec> ReadRoutineOutput(std::string_view text, const std::string& file, RoutineEncoding encoding,
                                           Warnings* warnings);

struct NamedRoutine {
  std::string name;                // UTF-8
  std::vector<std::string> lines;  // UTF-8
};

// Writes a routine output file with the two header lines (LF line ends). An
// empty routine line is written as one blank, as GT.M does; the answer is the
// number of lines so written.
std::size_t WriteRoutineOutput(const std::vector<NamedRoutine>& routines, const std::string& header1,
                               const std::string& header2, std::ostream& out);

}  // namespace dorpack
