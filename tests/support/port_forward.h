// A port forward on loopback for tests: a free port whose connections are
// relayed, byte for byte in both directions, to another port, as a router
// or an SSH tunnel in front of a server would.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace dorvik::testing {

class PortForward {
 public:
  // Listens on a free loopback port and relays to 127.0.0.1:`target`.
  explicit PortForward(int target);
  ~PortForward();  // closes every relayed connection
  PortForward(const PortForward&) = delete;
  PortForward& operator=(const PortForward&) = delete;

  int Port() const { return port_; }

 private:
  void Accept();
  void Relay(int client, int server);

  int target_;
  int port_ = 0;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> relays_;
};

}  // namespace dorvik::testing
