// Packs a Package into the bytes of a distribution data file: byte 0 unused,
// byte 1 the key, three plain header fields each ended by byte 13, then the
// encoded body records (password, check label, post-action list, check
// routines, routines), each ended by an encoded 13.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "dorpack/package.h"

namespace dorpack {

// Throws PackError when a text would not come back from the data file as it
// was given: empty required fields, line ends or zero bytes inside texts,
// separators inside post-actions, invalid routine names, a check label
// without check routines or the other way round.
void CheckPackage(const Package& package);

// The key the package is written with. A given key must not be the plain
// form of a separator (13, 10, 64, 35) nor any plain byte of the body, which
// would be stored as the zero byte the format cannot carry (PackError names
// the first such text). Without a given key the lowest fitting key from 1 to
// 254 is chosen, then 255 or 0 (which leave the body readable as it is).
std::uint8_t ResolveKey(const Package& package);

// Checks the package, resolves its key and writes the data file's bytes.
void WritePackage(const Package& package, std::ostream& out);
std::string PackageBytes(const Package& package);

}  // namespace dorpack
