#include "cutting_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace dorvik::testing {

CuttingRelay::CuttingRelay(int serverPort, std::string cutAt, std::function<void()> onCut)
    : serverPort_(serverPort), cutAt_(std::move(cutAt)), onCut_(std::move(onCut)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("the relay cannot listen");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

CuttingRelay::~CuttingRelay() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

void CuttingRelay::Serve() {
  // One connection at a time, as the installer makes them.
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    if (cut_) {
      ::close(client);
      continue;
    }
    Relay(client);
  }
}

void CuttingRelay::Relay(int client) {
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
  std::string seen;  // the client's last bytes, so that a text split between reads is found
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
      if (i == 0) {
        seen = seen.substr(seen.size() > cutAt_.size() ? seen.size() - cutAt_.size() : 0) +
               std::string(buffer, static_cast<std::size_t>(got));
        if (seen.find(cutAt_) != std::string::npos) {
          // Nothing of what holds the text reaches the server.
          cut_ = true;
          onCut_();
          closed = true;
          break;
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
