// dorpack's output to a person's terminal. dorpack writes its texts in
// UTF-8. A Windows console shows bytes through its own code page (866 or
// 1251 for Russian), so there std::cout and std::cerr are switched to write
// a console in UTF-16 (WriteConsoleW), which shows every letter; output sent
// to a pipe or a file stays UTF-8 bytes, as on Linux.
#pragma once

namespace dorpack {

// Call once, before anything is written.
void UseConsoleOutput();

}  // namespace dorpack
