#include "port_forward.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace dorvik::testing {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

// Copies what `from` has to `to`; false when `from` has ended or either fails.
bool Pass(int from, int to) {
  char buffer[16384];
  const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
  if (n <= 0) return false;
  for (ssize_t sent = 0; sent < n;) {
    const ssize_t m = ::send(to, buffer + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
    if (m <= 0) return false;
    sent += m;
  }
  return true;
}

}  // namespace

PortForward::PortForward(int target) : target_(target) {
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = Loopback(0);
  socklen_t len = sizeof addr;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("cannot listen for the port forward");
  }
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

PortForward::~PortForward() {
  stopping_ = true;
  const char byte = 1;
  [[maybe_unused]] auto n = ::write(wake_[1], &byte, 1);
  acceptor_.join();
  for (std::thread& t : relays_) t.join();
  ::close(listener_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void PortForward::Accept() {
  while (!stopping_) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) <= 0 || !(fds[0].revents & POLLIN)) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = Loopback(target_);
    if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(client);
      if (server >= 0) ::close(server);
      continue;
    }
    std::lock_guard lock(mutex_);
    relays_.emplace_back([this, client, server] { Relay(client, server); });
  }
}

void PortForward::Relay(int client, int server) {
  for (;;) {
    pollfd fds[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) break;
    if (fds[2].revents & POLLIN) break;
    if (fds[0].revents && !Pass(client, server)) break;
    if (fds[1].revents && !Pass(server, client)) break;
  }
  ::close(client);
  ::close(server);
}

}  // namespace dorvik::testing
