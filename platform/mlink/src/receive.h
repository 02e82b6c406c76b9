// The two receiving primitives each platform's socket file provides, so that
// the frame reader above them is written once for POSIX sockets and Winsock.
#pragma once

#include <cstddef>

#include "mlink/socket_io.h"

namespace mlink {

// Receives what the socket holds without waiting: the byte count, 0 when
// the peer closed, -1 when nothing has arrived yet. Throws LinkError when
// the connection failed.
std::ptrdiff_t ReceiveNow(int fd, char* out, std::size_t n);

// Waits until the socket has something to read (or the peer closed); false
// when the deadline passed first.
bool WaitReadable(int fd, Deadline deadline);

}  // namespace mlink
