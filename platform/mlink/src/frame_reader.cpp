// The frame reader: length-prefixed frames taken from a socket through the
// platform's receiving primitives (receive.h), its memory growing with the
// bytes that arrive and never with the length a peer announces.
#include <algorithm>
#include <cstring>
#include <thread>

#include "mlink/errors.h"
#include "mlink/socket_io.h"
#include "receive.h"
#include "wire.h"

namespace mlink {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

// Receives at least one byte, waiting until the deadline; 0 when the peer
// closed. Polls without sleeping for `spin` before it blocks.
std::size_t Receive(const Socket& socket, char* out, std::size_t n, Deadline deadline, std::chrono::microseconds spin) {
  std::ptrdiff_t got = ReceiveNow(socket.fd(), out, n);
  if (got < 0 && spin.count() > 0) {
    const auto spinEnd = Clock::now() + spin;
    do {
      // Yielding hands the processor to the peer when both share one.
      std::this_thread::yield();
      got = ReceiveNow(socket.fd(), out, n);
    } while (got < 0 && Clock::now() < spinEnd);
  }
  while (got < 0) {
    if (!WaitReadable(socket.fd(), deadline)) {
      throw TimeoutError("no data from the peer before the time limit", FailureKind::NoAnswer);
    }
    got = ReceiveNow(socket.fd(), out, n);
  }
  return static_cast<std::size_t>(got);
}

}  // namespace

bool FrameReader::TakeAvailable(const Socket& socket) {
  if (end_ == buffer_.size()) {
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    } else {
      buffer_.resize(std::max(kReadChunk, buffer_.size() * 2));
    }
  }
  const std::ptrdiff_t got = ReceiveNow(socket.fd(), buffer_.data() + end_, buffer_.size() - end_);
  if (got > 0) end_ += static_cast<std::size_t>(got);
  return got != 0;
}

bool FrameReader::Fill(const Socket& socket, Deadline deadline) {
  const bool frameStart = begin_ == end_;
  if (frameStart) {
    begin_ = end_ = 0;
  } else if (end_ == buffer_.size() && begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(std::max(kReadChunk, buffer_.size() * 2));
  const std::size_t got = Receive(socket, buffer_.data() + end_, buffer_.size() - end_, deadline,
                                  frameStart ? spin_ : std::chrono::microseconds(0));
  end_ += got;
  return got > 0;
}

std::optional<std::string> FrameReader::Next(const Socket& socket, Deadline deadline) {
  while (Buffered() < 4) {
    if (!Fill(socket, deadline)) {
      if (Buffered() == 0) return std::nullopt;
      throw LinkError("connection closed by the peer in the middle of a frame", FailureKind::ClosedMidFrame);
    }
  }
  const std::uint32_t length = wire::LoadU32(reinterpret_cast<const unsigned char*>(buffer_.data() + begin_));
  if (length == 0) throw ProtocolError("malformed frame: empty body");
  if (length > maxFrame_) {
    FailureDetails details;
    details.size = length;
    details.limit = maxFrame_;
    throw ProtocolError(
        "frame of " + std::to_string(length) + " bytes exceeds the limit of " + std::to_string(maxFrame_) + " bytes",
        FailureKind::FrameTooLarge, details);
  }
  begin_ += 4;
  if (Buffered() >= length) {
    std::string body(buffer_.data() + begin_, length);
    begin_ += length;
    return body;
  }
  // A frame larger than what has arrived: read the rest straight into it.
  // The body doubles as bytes arrive, from one read's worth, so that its
  // size follows what the peer has sent and not what it announced.
  std::size_t done = Buffered();
  std::string body(std::min<std::size_t>(length, std::max(done, kReadChunk)), '\0');
  std::copy(buffer_.data() + begin_, buffer_.data() + end_, body.data());
  begin_ = end_ = 0;
  while (done < length) {
    if (done == body.size()) body.resize(std::min<std::size_t>(length, body.size() * 2));
    const std::size_t got =
        Receive(socket, body.data() + done, body.size() - done, deadline, std::chrono::microseconds(0));
    if (got == 0) {
      throw LinkError("connection closed by the peer in the middle of a frame", FailureKind::ClosedMidFrame);
    }
    done += got;
  }
  return body;
}

}  // namespace mlink
