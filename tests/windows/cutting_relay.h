// A loopback TCP relay in front of a server that cuts every connection when
// a client sends a given text, and accepts none afterwards: the server seems
// to stop at one exact point of an installation, whatever the timing.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace dorvik::testing {

class CuttingRelay {
 public:
  // Relays to 127.0.0.1:serverPort; `onCut` runs once, when the text is seen.
  CuttingRelay(int serverPort, std::string cutAt, std::function<void()> onCut);
  ~CuttingRelay();
  CuttingRelay(const CuttingRelay&) = delete;
  CuttingRelay& operator=(const CuttingRelay&) = delete;

  int Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  bool Cut() const { return cut_; }

 private:
  void Serve();
  void Relay(int client);

  int serverPort_;
  std::string cutAt_;
  std::function<void()> onCut_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> cut_{false};
  std::thread thread_;
};

}  // namespace dorvik::testing
