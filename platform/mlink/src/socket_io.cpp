#include "mlink/socket_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mlink/errors.h"
#include "wire.h"

namespace mlink {
namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

// Milliseconds left until the deadline for poll(): -1 waits forever.
int PollTimeout(Deadline deadline) {
  if (!deadline) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > 1000000 ? 1000000 : static_cast<int>(left.count());
}

// Waits until the socket is ready for `events`; false when the deadline passed.
bool WaitReady(int fd, short events, Deadline deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, PollTimeout(deadline));
    if (rc > 0) return true;
    if (rc == 0) {
      if (deadline && Clock::now() >= *deadline) return false;
      continue;
    }
    if (errno != EINTR) throw LinkError("waiting on the connection failed: " + ErrnoText(errno));
  }
}

std::string TransportText(int err) {
  if (err == ECONNRESET || err == EPIPE) return "connection reset by the peer";
  return "connection failed: " + ErrnoText(err);
}

// Receives what the socket holds without waiting: the byte count, 0 when
// the peer closed, -1 when nothing has arrived yet.
ssize_t ReceiveNow(int fd, char* out, std::size_t n) {
  for (;;) {
    ssize_t got = ::recv(fd, out, n, MSG_DONTWAIT);
    if (got >= 0) return got;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
    if (errno != EINTR) throw LinkError(TransportText(errno));
  }
}

constexpr std::size_t kReadChunk = 64 * 1024;

// Receives at least one byte, waiting until the deadline; 0 when the peer
// closed. Polls without sleeping for `spin` before it blocks.
std::size_t Receive(const Socket& socket, char* out, std::size_t n, Deadline deadline, std::chrono::microseconds spin) {
  ssize_t got = ReceiveNow(socket.fd(), out, n);
  if (got < 0 && spin.count() > 0) {
    const auto spinEnd = Clock::now() + spin;
    do {
      // Yielding hands the processor to the peer when both share one.
      std::this_thread::yield();
      got = ReceiveNow(socket.fd(), out, n);
    } while (got < 0 && Clock::now() < spinEnd);
  }
  while (got < 0) {
    if (!WaitReady(socket.fd(), POLLIN, deadline)) throw TimeoutError("no data from the peer before the time limit");
    got = ReceiveNow(socket.fd(), out, n);
  }
  return static_cast<std::size_t>(got);
}

}  // namespace

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

Socket::~Socket() { Close(); }

int Socket::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void Socket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Socket::Shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

Deadline DeadlineAfter(std::chrono::milliseconds timeout) {
  if (timeout.count() <= 0) return std::nullopt;
  return Clock::now() + timeout;
}

Socket ConnectTcp(const Endpoint& endpoint, std::chrono::milliseconds timeout) {
  const std::string where = endpoint.ToString();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(endpoint.port);
  if (int rc = ::getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    throw LinkError("cannot resolve host '" + endpoint.host + "': " + ::gai_strerror(rc));
  }
  const Deadline deadline = DeadlineAfter(timeout);
  std::string failure = "no address to connect to";
  for (addrinfo* a = found; a; a = a->ai_next) {
    Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!s.valid()) {
      failure = "cannot create a socket: " + ErrnoText(errno);
      continue;
    }
    int flags = ::fcntl(s.fd(), F_GETFL);
    ::fcntl(s.fd(), F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(s.fd(), a->ai_addr, a->ai_addrlen);
    int err = rc == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
      if (!WaitReady(s.fd(), POLLOUT, deadline)) {
        ::freeaddrinfo(found);
        throw TimeoutError("connection to " + where + " timed out after " + std::to_string(timeout.count()) + " ms");
      }
      socklen_t len = sizeof err;
      ::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &err, &len);
    }
    if (err == 0) {
      ::freeaddrinfo(found);
      int one = 1;
      ::setsockopt(s.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return s;
    }
    failure = err == ECONNREFUSED ? "connection refused (is the server running?)"
              : err == ETIMEDOUT  ? "connection timed out"
                                  : ErrnoText(err);
  }
  ::freeaddrinfo(found);
  throw LinkError("cannot connect to " + where + ": " + failure);
}

void WriteAll(const Socket& socket, std::string_view bytes, Deadline deadline, FrameReader* incoming) {
  // Send at once; wait only when the socket's buffer is full.
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t sent = ::send(socket.fd(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      done += static_cast<std::size_t>(sent);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      const short events = incoming ? POLLOUT | POLLIN : POLLOUT;
      if (!WaitReady(socket.fd(), events, deadline)) {
        throw TimeoutError("the peer does not take data before the time limit");
      }
      // Once the peer has closed, its end of the connection says so on the
      // next send.
      if (incoming && !incoming->TakeAvailable(socket)) incoming = nullptr;
    } else if (errno != EINTR) {
      throw LinkError(TransportText(errno));
    }
  }
}

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
  const ssize_t got = ReceiveNow(socket.fd(), buffer_.data() + end_, buffer_.size() - end_);
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
      throw LinkError("connection closed by the peer in the middle of a frame");
    }
  }
  const std::uint32_t length = wire::LoadU32(reinterpret_cast<const unsigned char*>(buffer_.data() + begin_));
  if (length == 0) throw ProtocolError("malformed frame: empty body");
  if (length > maxFrame_) {
    throw ProtocolError("frame of " + std::to_string(length) + " bytes exceeds the limit of " +
                        std::to_string(maxFrame_) + " bytes");
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
    if (got == 0) throw LinkError("connection closed by the peer in the middle of a frame");
    done += got;
  }
  return body;
}

}  // namespace mlink
