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
#include "receive.h"
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

// A connection that failed while bytes went through it.
LinkError TransportError(int err) {
  FailureDetails details;
  details.systemCode = err;
  if (err == ECONNRESET || err == EPIPE) return LinkError("connection reset by the peer", FailureKind::Reset, details);
  return LinkError("connection failed: " + ErrnoText(err), FailureKind::TransferFailed, details);
}

bool WaitReady(int fd, short events, Deadline deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, PollTimeout(deadline));
    if (rc > 0) return true;
    if (rc == 0) {
      if (deadline && Clock::now() >= *deadline) return false;
      continue;
    }
    if (const int err = errno; err != EINTR) {
      FailureDetails details;
      details.systemCode = err;
      throw LinkError("waiting on the connection failed: " + ErrnoText(err), FailureKind::TransferFailed, details);
    }
  }
}

}  // namespace

bool WaitReadable(int fd, Deadline deadline) { return WaitReady(fd, POLLIN, deadline); }

std::ptrdiff_t ReceiveNow(int fd, char* out, std::size_t n) {
  for (;;) {
    ssize_t got = ::recv(fd, out, n, MSG_DONTWAIT);
    if (got >= 0) return got;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
    if (errno != EINTR) throw TransportError(errno);
  }
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
    FailureDetails details;
    details.address = endpoint.host;
    details.systemCode = rc;
    throw LinkError("cannot resolve host '" + endpoint.host + "': " + ::gai_strerror(rc), FailureKind::CannotResolve,
                    details);
  }
  const Deadline deadline = DeadlineAfter(timeout);
  std::string failure = "no address to connect to";
  FailureKind kind = FailureKind::ConnectFailed;
  FailureDetails details;
  details.address = where;
  for (addrinfo* a = found; a; a = a->ai_next) {
    Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!s.valid()) {
      details.systemCode = errno;
      failure = "cannot create a socket: " + ErrnoText(details.systemCode);
      continue;
    }
    int flags = ::fcntl(s.fd(), F_GETFL);
    ::fcntl(s.fd(), F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(s.fd(), a->ai_addr, a->ai_addrlen);
    int err = rc == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
      if (!WaitReady(s.fd(), POLLOUT, deadline)) {
        ::freeaddrinfo(found);
        details.limit = static_cast<std::uint64_t>(timeout.count());
        throw TimeoutError("connection to " + where + " timed out after " + std::to_string(timeout.count()) + " ms",
                           FailureKind::ConnectTimedOut, details);
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
    details.systemCode = err;
    kind = err == ECONNREFUSED ? FailureKind::Refused
           : err == ETIMEDOUT  ? FailureKind::ConnectTimedOut
                               : FailureKind::ConnectFailed;
    failure = err == ECONNREFUSED ? "connection refused (is the server running?)"
              : err == ETIMEDOUT  ? "connection timed out"
                                  : ErrnoText(err);
  }
  ::freeaddrinfo(found);
  throw LinkError("cannot connect to " + where + ": " + failure, kind, details);
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
        throw TimeoutError("the peer does not take data before the time limit", FailureKind::NotTaken);
      }
      // Once the peer has closed, its end of the connection says so on the
      // next send.
      if (incoming && !incoming->TakeAvailable(socket)) incoming = nullptr;
    } else if (errno != EINTR) {
      throw TransportError(errno);
    }
  }
}

}  // namespace mlink
