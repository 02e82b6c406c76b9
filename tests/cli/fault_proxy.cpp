#include "fault_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <stdexcept>

namespace dorvik::testing {

namespace {

constexpr unsigned char kRequestType = 3;
constexpr unsigned char kAnswerType = 4;

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  return (std::uint32_t{static_cast<unsigned char>(bytes[at])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(bytes[at + 1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(bytes[at + 2])} << 8) |
         std::uint32_t{static_cast<unsigned char>(bytes[at + 3])};
}

// A request body: type, namespace, kept parameters, P1, P2, code.
std::string RequestCode(const std::string& body) {
  std::size_t at = 1;
  const auto skip = [&] {
    if (at + 4 > body.size()) throw std::runtime_error("short request");
    at += 4 + BigEndian32(body, at);
  };
  skip();   // namespace
  at += 1;  // kept parameters
  skip();   // P1
  skip();   // P2
  if (at + 4 > body.size()) throw std::runtime_error("short request");
  return body.substr(at + 4, BigEndian32(body, at));
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Takes whole frames off the front of `buffer`.
std::vector<std::string> TakeFrames(std::string& buffer) {
  std::vector<std::string> frames;
  while (buffer.size() >= 4) {
    const std::size_t length = BigEndian32(buffer, 0);
    if (buffer.size() < 4 + length) break;
    frames.push_back(buffer.substr(0, 4 + length));
    buffer.erase(0, 4 + length);
  }
  return frames;
}

}  // namespace

FaultProxy::FaultProxy(int serverPort, Hook hook) : serverPort_(serverPort), hook_(std::move(hook)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener_, 8) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(listener_);
    throw std::runtime_error("the proxy cannot listen");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

FaultProxy::~FaultProxy() {
  stopping_ = true;
  acceptor_.join();
  ::close(listener_);
  for (auto& relay : relays_) relay.join();
}

std::vector<std::string> FaultProxy::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void FaultProxy::Accept() {
  while (!stopping_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client >= 0) relays_.emplace_back([this, client] { Relay(client); });
  }
}

bool FaultProxy::Pass(const std::string& frame, bool fromClient, std::vector<std::string>& pending) {
  ProxyEvent event;
  const unsigned char type = frame.size() > 4 ? static_cast<unsigned char>(frame[4]) : 0;
  if (fromClient && type == kRequestType) {
    event.kind = ProxyEvent::kRequest;
    event.code = RequestCode(frame.substr(4));
    std::lock_guard lock(mutex_);
    requests_.push_back(event.code);
    event.number = static_cast<int>(requests_.size());
    pending.push_back(event.code);
  } else if (!fromClient && type == kAnswerType) {
    event.kind = ProxyEvent::kAnswer;
    if (!pending.empty()) {
      event.code = pending.front();
      pending.erase(pending.begin());
    }
    std::lock_guard lock(mutex_);
    event.number = ++answers_;
  } else {
    return true;  // hello, welcome, fault
  }
  return hook_(event);
}

void FaultProxy::Relay(int client) {
  const int server = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(serverPort_));
  bool open = ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  std::string fromClient, fromServer;
  std::vector<std::string> pending;
  char chunk[65536];
  while (open && !stopping_) {
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(p, 2, 20) <= 0) continue;
    for (int side = 0; side < 2 && open; ++side) {
      if (p[side].revents == 0) continue;
      const ssize_t n = ::recv(p[side].fd, chunk, sizeof chunk, 0);
      if (n <= 0) {
        open = false;
        break;
      }
      std::string& buffer = side == 0 ? fromClient : fromServer;
      buffer.append(chunk, static_cast<std::size_t>(n));
      for (const auto& frame : TakeFrames(buffer)) {
        if (!Pass(frame, side == 0, pending) || !WriteAll(side == 0 ? server : client, frame)) {
          open = false;
          break;
        }
      }
    }
  }
  ::close(server);
  ::close(client);
}

}  // namespace dorvik::testing
