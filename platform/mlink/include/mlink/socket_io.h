// Blocking socket I/O with deadlines, shared by the client and the server.
// Each call waits at most until its deadline and then throws LinkError;
// no call can hang without end.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mlink/endpoint.h"
#include "mlink/messages.h"

namespace mlink {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;  // nullopt: wait forever

// Owns a socket descriptor; closes it on destruction.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& other) noexcept : fd_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket();

  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release();
  void Close();
  // Shuts both directions down, waking a thread blocked on this socket.
  void Shutdown();

 private:
  int fd_ = -1;
};

// Connects to the endpoint; throws LinkError on refusal, an unknown host or
// when the timeout passes.
Socket ConnectTcp(const Endpoint& endpoint, std::chrono::milliseconds timeout);

// Writes all bytes before the deadline.
void WriteAll(const Socket& socket, std::string_view bytes, Deadline deadline);

// Reads one frame body. Returns nullopt when the peer closed the connection
// cleanly before the first byte of a frame; throws LinkError on a reset, a
// timeout or a close in mid-frame, ProtocolError on a length of 0 or above
// maxFrame.
std::optional<std::string> ReadFrame(const Socket& socket, std::uint32_t maxFrame,
                                     Deadline deadline);

Deadline DeadlineAfter(std::chrono::milliseconds timeout);  // 0: no deadline

}  // namespace mlink
