// ServerLink over a TCP connection to an M server speaking the link
// protocol (mserver). The first execution connects; the connection and the
// server process behind it (its local variables and locks) last until the
// link is destroyed or given another server.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "server/server_link.h"

namespace dorvik {

struct TcpLinkOptions {
  std::chrono::milliseconds connectTimeout{10000};
  // The longest one line may take on the server before the link gives up on
  // it (a post-action run in the foreground can take minutes).
  std::chrono::milliseconds callTimeout{std::chrono::minutes(30)};
};

class TcpLink : public ServerLink {
 public:
  explicit TcpLink(TcpLinkOptions options = {});
  ~TcpLink() override;

  void SetServer(const std::string& server) override;
  std::string GetServer() override;
  void SetNamespace(const std::string& ns) override;
  void SetParam(int n, const std::string& value) override;
  using ServerLink::SetParam;
  std::string GetParam(int n) override;
  void RunCode(const std::string& code) override;
  std::string GetValue() override;
  void SetValue(const std::string& value) override;
  void ClearError() override;
  int ErrorCode() override;
  std::string ErrorText() override;

  // The server's $ZVERSION as announced when connecting ("" before).
  std::string ServerVersion() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace dorvik
