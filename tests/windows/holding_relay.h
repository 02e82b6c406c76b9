// A loopback TCP relay in front of a server that holds the client's data
// back from the moment a given text passes, until the test releases it: the
// installation stands still at one exact point (a routine's upload) for as
// long as the test needs, whatever the timing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace dorvik::testing {

class HoldingRelay {
 public:
  // Listens on `listenPort` (0: any free port); an empty `holdAt` never
  // holds.
  HoldingRelay(int serverPort, std::string holdAt, int listenPort = 0);
  ~HoldingRelay();
  HoldingRelay(const HoldingRelay&) = delete;
  HoldingRelay& operator=(const HoldingRelay&) = delete;

  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  int Port() const { return port_; }
  // Waits until the text has been seen and held; false after `seconds`.
  bool WaitHeld(int seconds);
  // Sends what was held and relays freely from then on.
  void Release();

 private:
  void Serve();
  void Relay(int client);

  int serverPort_;
  std::string holdAt_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
  std::thread thread_;
};

}  // namespace dorvik::testing
