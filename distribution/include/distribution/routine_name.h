// Names of server routines and entry references as they travel in a
// distribution, checked before any of them becomes part of server code. The
// installer and dorpack build share these checks, so that the packer refuses
// exactly what the installer would.
#pragma once

#include <string_view>

#include "distribution/reader.h"

namespace dorvik {

// A routine name the server accepts: an optional leading "%", a letter, then
// letters and digits, with single dots between parts (a class's generated
// routines are named like "My.Class.1"); at most 255 bytes.
bool IsValidRoutineName(std::string_view name);

// label^routine (or ^routine) as the server calls it with $$; the label is a
// name or all digits.
bool IsValidEntryReference(std::string_view label);

// A byte below 32 or 127: the wizard puts a post-action's description into
// server code and shows it, so it must hold none.
bool HasControlCharacter(std::string_view text);

// The first post-action whose label is not an entry reference or whose
// description holds a control character, or -1 when all are fit to be put
// into server code.
int FindUnfitPostAction(const Distribution& dist);

}  // namespace dorvik
