// $ZCRC: checksums of a byte string, for comparing texts on the server
// without sending them.
//
// Modes: 0 the sum of the bytes, 1 the XOR of the bytes, 7 the CRC-32 of
// zip and cksum -a crc32b (polynomial 0xEDB88320, reflected, inverted). The
// seed continues an earlier checksum: checksum(b, mode, checksum(a, mode))
// equals checksum(a_b, mode). Other modes are not provided.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace mengine {

// Nothing for a mode this engine does not provide (the caller raises <FUNCTION>).
std::optional<std::int64_t> ZCrc(std::string_view bytes, std::int64_t mode, std::int64_t seed);

}  // namespace mengine
