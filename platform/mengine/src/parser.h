// Parser of M lines into the tree of ast.h.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ast.h"

namespace mengine {

// A routine line: optional label with formals, level dots, commands.
// Syntax errors are kept in the line (raised when it runs); the label is
// still known.
Line ParseRoutineLine(std::string_view text, int maxNesting);

// A command line without label (direct execution, XECUTE). Throws <SYNTAX>.
Line ParseCommandLine(std::string_view text, int maxNesting);

// A whole text as one expression. Throws <SYNTAX>.
ExprPtr ParseExpressionText(std::string_view text, int maxNesting);

// A whole text as a variable name (name indirection). Throws <SYNTAX>.
ExprPtr ParseNameText(std::string_view text, int maxNesting);

// A whole text as the argument list of a command (argument indirection).
std::vector<CmdArg> ParseArgumentText(Cmd command, std::string_view text, int maxNesting);

// A whole text as an entry reference (label+offset^routine(args)).
std::unique_ptr<EntryRef> ParseEntryText(std::string_view text, int maxNesting, bool actuals);

// A whole routine.
std::shared_ptr<Routine> ParseRoutine(std::string_view name, const std::vector<std::string>& lines, int maxNesting);

}  // namespace mengine
