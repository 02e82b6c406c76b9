// A loopback relay between a client and mserver that watches the link
// protocol's frames and lets a test act at an exact point of the
// conversation: before a numbered request reaches the server, or once its
// answer has come back and before the client sees it. The test's hook may
// kill the server or the client there, or interrupt the client, and says
// whether the relay goes on or cuts the connection.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dorvik::testing {

struct ProxyEvent {
  enum Kind { kRequest, kAnswer } kind = kRequest;
  int number = 0;    // requests and answers are counted from 1 over every connection
  std::string code;  // the request's M code (of the matching request for an answer)
};

class FaultProxy {
 public:
  // Called on the relay's thread; answers true to pass the frame on, false
  // to drop it and close both sides of its connection.
  using Hook = std::function<bool(const ProxyEvent&)>;

  FaultProxy(int serverPort, Hook hook);
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  // The code of every request seen so far, in order.
  std::vector<std::string> Requests() const;

 private:
  void Accept();
  void Relay(int client);
  bool Pass(const std::string& body, bool fromClient, std::vector<std::string>& pending);

  int serverPort_;
  Hook hook_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> relays_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  int answers_ = 0;
};

}  // namespace dorvik::testing
