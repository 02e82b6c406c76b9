// A routine file's bytes as routine lines: line ends and code pages, the
// same for every input format.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dorpack/package.h"

namespace dorpack {

enum class RoutineEncoding { kUtf8, kCp866 };

// The text split into lines at line feeds; a carriage return right before a
// line feed belongs to the line end, and a final line end ends the last line.
// A carriage return anywhere else is refused (PackError "file:line: ...",
// counting the text's first line as `firstLine`), since the installer would
// store it inside a routine line.
std::vector<std::string_view> SplitLines(std::string_view text, const std::string& file, int firstLine = 1);

// A line in code page 866: converted from UTF-8, or taken as bytes. Throws
// PackError at `origin` for invalid UTF-8 or a character code page 866 lacks.
std::string LineToCp866(std::string_view line, RoutineEncoding encoding, const Origin& origin);

// Why UTF-8 text does not convert to code page 866, in Russian: the first
// character the code page lacks ("символ «★» (U+2605), которого нет в
// кодовой странице 866, — байт 5 текста") or the first byte that is not UTF-8.
std::string Cp866Fault(std::string_view utf8);

// The whole file, or PackError naming it.
std::string ReadWholeFile(const std::string& file, const Origin& entry);

}  // namespace dorpack
