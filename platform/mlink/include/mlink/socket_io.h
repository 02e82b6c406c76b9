// Blocking socket I/O with deadlines, shared by the client and the server.
// Each call waits at most until its deadline and then throws LinkError;
// no call can hang without end.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

class FrameReader;

// Writes all bytes before the deadline. While the peer takes no more, what
// it sends meanwhile is taken into `incoming` when one is given, so that two
// peers that both write cannot end up waiting on each other.
void WriteAll(const Socket& socket, std::string_view bytes, Deadline deadline, FrameReader* incoming = nullptr);

// Reads the frames of one connection. Bytes are taken from the socket in
// large reads, so a whole small frame usually costs one recv; bytes past the
// frame stay buffered for the next one.
//
// While it waits for the first byte of a frame, the reader polls the socket
// without sleeping for a short while (its spin) before it blocks: the peer
// usually sends within microseconds, and waking a sleeping thread costs more
// than that on a loaded machine.
class FrameReader {
 public:
  // A server waiting for a client's next request: short, since one server
  // thread per connection spins.
  static constexpr std::chrono::microseconds kRequestSpin{50};
  // A client waiting for the answer to a line: long enough to cover a line
  // of some work on the server, such as saving a routine.
  static constexpr std::chrono::microseconds kAnswerSpin{200};

  explicit FrameReader(std::uint32_t maxFrame, std::chrono::microseconds spin = kRequestSpin)
      : maxFrame_(maxFrame), spin_(spin) {}

  // Reads one frame body. Returns nullopt when the peer closed the connection
  // cleanly before the first byte of a frame; throws TimeoutError when the
  // deadline passes, LinkError on a reset or a close in mid-frame,
  // ProtocolError on a length of 0 or above the frame limit.
  //
  // The body's memory grows with the bytes that have arrived, never ahead of
  // them: a peer that announces a large frame and sends little costs little.
  std::optional<std::string> Next(const Socket& socket, Deadline deadline);

  // Changes the frame limit for the frames still to come (a server keeps it
  // small until the peer has said hello).
  void SetLimit(std::uint32_t maxFrame) { maxFrame_ = maxFrame; }

  // Takes what the socket holds into the buffer without waiting; false when
  // the peer has closed.
  bool TakeAvailable(const Socket& socket);

 private:
  // Appends what the socket has to the buffer, spinning first when the
  // buffer was empty (a new frame is awaited); false when the peer closed.
  bool Fill(const Socket& socket, Deadline deadline);
  std::size_t Buffered() const { return end_ - begin_; }

  std::uint32_t maxFrame_;
  std::chrono::microseconds spin_;
  std::vector<char> buffer_;  // bytes [begin_, end_) are received, not yet taken
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

Deadline DeadlineAfter(std::chrono::milliseconds timeout);  // 0: no deadline

}  // namespace mlink
