#include "holding_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace dorvik::testing {

HoldingRelay::HoldingRelay(int serverPort, std::string holdAt, int listenPort)
    : serverPort_(serverPort), holdAt_(std::move(holdAt)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(listenPort));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("the relay cannot listen");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

HoldingRelay::~HoldingRelay() {
  stop_ = true;
  Release();
  thread_.join();
  ::close(listener_);
}

bool HoldingRelay::WaitHeld(int seconds) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(seconds), [this] { return held_; });
}

void HoldingRelay::Release() {
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
}

void HoldingRelay::Serve() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client >= 0) Relay(client);
  }
}

void HoldingRelay::Relay(int client) {
  const int server = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(serverPort_));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(server);
    ::close(client);
    return;
  }
  char buffer[65536];
  std::string seen;
  bool holding = false;
  while (!stop_) {
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(p, 2, 50) <= 0) continue;
    bool closed = false;
    for (int i = 0; i < 2 && !closed; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const int from = i == 0 ? client : server;
      const int to = i == 0 ? server : client;
      const ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
      if (got <= 0) {
        closed = true;
        break;
      }
      if (i == 0 && !holding && !holdAt_.empty()) {
        seen = seen.substr(seen.size() > holdAt_.size() ? seen.size() - holdAt_.size() : 0) +
               std::string(buffer, static_cast<std::size_t>(got));
        if (seen.find(holdAt_) != std::string::npos) {
          holding = true;
          std::unique_lock lock(mutex_);
          held_ = true;
          changed_.notify_all();
          changed_.wait(lock, [this] { return released_; });
        }
      }
      if (::send(to, buffer, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got) closed = true;
    }
    if (closed) break;
  }
  ::close(server);
  ::close(client);
}

}  // namespace dorvik::testing
