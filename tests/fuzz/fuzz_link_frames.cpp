// libFuzzer target: the input is what a client sends to the server, taken
// as the server takes it: frames from a socket through mlink's FrameReader
// with the server's frame limit, each body decoded, the first one a hello of
// this protocol version and every later one a request. Any input must end
// in a ProtocolError or LinkError, never in a crash or another exception;
// a body that decodes must encode back to the same bytes.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>

#include "mlink/errors.h"
#include "mlink/messages.h"
#include "mlink/socket_io.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_link_frames: %s\n", what);
    std::abort();
  }
}

void Serve(const mlink::Socket& socket) {
  mlink::FrameReader reader(mlink::kDefaultMaxFrame);
  const auto deadline = mlink::DeadlineAfter(std::chrono::milliseconds(2000));
  bool first = true;
  while (auto body = reader.Next(socket, deadline)) {
    const mlink::Message message = mlink::DecodeBody(*body);
    Require(mlink::EncodeBody(message) == *body, "a decoded body does not encode back to its bytes");
    if (first) {
      const auto* hello = std::get_if<mlink::Hello>(&message);
      if (hello == nullptr || hello->version != mlink::kProtocolVersion) return;
      first = false;
    } else if (!std::holds_alternative<mlink::Request>(message)) {
      return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The server reads the frames from a socket whose peer has sent the input
  // and closed its side.
  int fds[2];
  Require(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0, "socketpair failed");
  mlink::Socket server(fds[0]);
  mlink::Socket client(fds[1]);
  int room = 1 << 20;
  ::setsockopt(client.fd(), SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  ::setsockopt(server.fd(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(client.fd(), data + sent, size - sent, MSG_NOSIGNAL);
    Require(n > 0, "cannot hand the input to the server's socket");
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(client.fd(), SHUT_WR);
  try {
    Serve(server);
  } catch (const mlink::LinkError&) {
    // ProtocolError included: the server closes the connection with a fault.
  }
  return 0;
}
