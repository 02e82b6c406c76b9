// A terminal on Linux takes UTF-8 as dorpack writes it.
#include "console.h"

namespace dorpack {

void UseConsoleOutput() {}

}  // namespace dorpack
