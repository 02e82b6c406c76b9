// The link's socket I/O over Winsock, for the Windows build: the same
// contract as the POSIX implementation (socket_io.cpp). Winsock reports
// failures through WSAGetLastError, has no MSG_DONTWAIT (the socket is put
// into non-blocking mode once) and waits with WSAPoll. A SOCKET handle is
// kept in the int of Socket: the build is 32-bit, where both have 32 bits.
#include "mlink/socket_io.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

#include "mlink/errors.h"
#include "receive.h"
#include "wire.h"

static_assert(sizeof(SOCKET) == sizeof(int), "a SOCKET is kept in an int: the Windows build is 32-bit");

namespace mlink {
namespace {

SOCKET Handle(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }

// Winsock is started once per process and stays up until it ends.
void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    if (const int rc = ::WSAStartup(MAKEWORD(2, 2), &data); rc != 0) {
      FailureDetails details;
      details.systemCode = rc;
      throw LinkError("cannot start Winsock: error " + std::to_string(rc), FailureKind::ConnectFailed, details);
    }
  });
}

std::string ErrorText(int err) {
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(err), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = n > 0 && text != nullptr ? std::string(text, n) : "error " + std::to_string(err);
  if (text != nullptr) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
    out.pop_back();
  }
  return out;
}

// Milliseconds left until the deadline for WSAPoll(): -1 waits forever.
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
  if (err == WSAECONNRESET || err == WSAECONNABORTED || err == WSAESHUTDOWN) {
    return LinkError("connection reset by the peer", FailureKind::Reset, details);
  }
  return LinkError("connection failed: " + ErrorText(err), FailureKind::TransferFailed, details);
}

bool WaitReady(int fd, short events, Deadline deadline) {
  for (;;) {
    WSAPOLLFD p{Handle(fd), events, 0};
    const int rc = ::WSAPoll(&p, 1, PollTimeout(deadline));
    if (rc > 0) return true;
    if (rc == 0) {
      if (deadline && Clock::now() >= *deadline) return false;
      continue;
    }
    const int err = ::WSAGetLastError();
    if (err != WSAEINTR) {
      FailureDetails details;
      details.systemCode = err;
      throw LinkError("waiting on the connection failed: " + ErrorText(err), FailureKind::TransferFailed, details);
    }
  }
}

}  // namespace

bool WaitReadable(int fd, Deadline deadline) { return WaitReady(fd, POLLIN, deadline); }

std::ptrdiff_t ReceiveNow(int fd, char* out, std::size_t n) {
  const int want = static_cast<int>(std::min<std::size_t>(n, 1 << 30));
  for (;;) {
    const int got = ::recv(Handle(fd), out, want, 0);
    if (got >= 0) return got;
    const int err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK) return -1;
    if (err != WSAEINTR) throw TransportError(err);
  }
}

void Socket::Close() {
  if (fd_ >= 0) ::closesocket(Handle(fd_));
  fd_ = -1;
}

void Socket::Shutdown() {
  if (fd_ >= 0) ::shutdown(Handle(fd_), SD_BOTH);
}

Deadline DeadlineAfter(std::chrono::milliseconds timeout) {
  if (timeout.count() <= 0) return std::nullopt;
  return Clock::now() + timeout;
}

Socket ConnectTcp(const Endpoint& endpoint, std::chrono::milliseconds timeout) {
  StartWinsock();
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
    throw LinkError("cannot resolve host '" + endpoint.host + "': " + ErrorText(rc), FailureKind::CannotResolve,
                    details);
  }
  const Deadline deadline = DeadlineAfter(timeout);
  std::string failure = "no address to connect to";
  FailureKind kind = FailureKind::ConnectFailed;
  FailureDetails details;
  details.address = where;
  for (addrinfo* a = found; a; a = a->ai_next) {
    const SOCKET raw = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (raw == INVALID_SOCKET) {
      details.systemCode = ::WSAGetLastError();
      failure = "cannot create a socket: " + ErrorText(details.systemCode);
      continue;
    }
    Socket s(static_cast<int>(raw));
    u_long nonBlocking = 1;
    ::ioctlsocket(raw, FIONBIO, &nonBlocking);
    int err = 0;
    if (::connect(raw, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK) {
      // A refused connection shows as POLLERR or POLLHUP, which WSAPoll
      // reports whatever was asked for.
      if (!WaitReady(s.fd(), POLLOUT, deadline)) {
        ::freeaddrinfo(found);
        details.limit = static_cast<std::uint64_t>(timeout.count());
        throw TimeoutError("connection to " + where + " timed out after " + std::to_string(timeout.count()) + " ms",
                           FailureKind::ConnectTimedOut, details);
      }
      int len = sizeof err;
      ::getsockopt(raw, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
    }
    if (err == 0) {
      ::freeaddrinfo(found);
      BOOL one = TRUE;
      ::setsockopt(raw, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
      return s;
    }
    details.systemCode = err;
    kind = err == WSAECONNREFUSED ? FailureKind::Refused
           : err == WSAETIMEDOUT  ? FailureKind::ConnectTimedOut
                                  : FailureKind::ConnectFailed;
    failure = err == WSAECONNREFUSED ? "connection refused (is the server running?)"
              : err == WSAETIMEDOUT  ? "connection timed out"
                                     : ErrorText(err);
  }
  ::freeaddrinfo(found);
  throw LinkError("cannot connect to " + where + ": " + failure, kind, details);
}

void WriteAll(const Socket& socket, std::string_view bytes, Deadline deadline, FrameReader* incoming) {
  // Send at once; wait only when the socket's buffer is full.
  std::size_t done = 0;
  while (done < bytes.size()) {
    const int want = static_cast<int>(std::min<std::size_t>(bytes.size() - done, 1 << 30));
    const int sent = ::send(Handle(socket.fd()), bytes.data() + done, want, 0);
    if (sent >= 0) {
      done += static_cast<std::size_t>(sent);
      continue;
    }
    const int err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK) {
      const short events = incoming ? POLLOUT | POLLIN : POLLOUT;
      if (!WaitReady(socket.fd(), events, deadline)) {
        throw TimeoutError("the peer does not take data before the time limit", FailureKind::NotTaken);
      }
      if (incoming && !incoming->TakeAvailable(socket)) incoming = nullptr;
    } else if (err != WSAEINTR) {
      throw TransportError(err);
    }
  }
}

}  // namespace mlink
