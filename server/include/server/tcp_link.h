// ServerLink over a TCP connection to an M server speaking the link
// protocol (mserver). The first execution connects; the connection and the
// server process behind it (its local variables and locks) last until the
// link is destroyed or given another server.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "server/property_link.h"

namespace dorvik {

struct TcpLinkOptions {
  std::chrono::milliseconds connectTimeout{10000};
  // The longest one line may take on the server before the link gives up on
  // it (a post-action run in the foreground can take minutes).
  std::chrono::milliseconds callTimeout{std::chrono::minutes(30)};
};

class TcpLink : public PropertyLink {
 public:
  explicit TcpLink(TcpLinkOptions options = {});
  ~TcpLink() override;

  void SetServer(const std::string& server) override;
  std::string GetServer() override;
  void RunCode(const std::string& code) override;

  // The server's $ZVERSION as announced when connecting ("" before).
  std::string ServerVersion() const;

 private:
  struct Connection;
  std::unique_ptr<Connection> c_;
};

}  // namespace dorvik
