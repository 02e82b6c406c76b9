// ServerLink over a TCP connection to an M server speaking the link
// protocol (mserver). The first execution connects; the connection and the
// server process behind it (its local variables and locks) last until the
// link is destroyed or given another server.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "link/property_link.h"

namespace mlink {
class LinkError;
}

namespace dorvik {

struct TcpLinkOptions {
  std::chrono::milliseconds connectTimeout{10000};
  // The longest one line may take on the server before the link gives up on
  // it (a post-action run in the foreground can take minutes).
  std::chrono::milliseconds callTimeout{std::chrono::minutes(30)};
};

// A command line is sent without waiting for its answer: the answer is
// taken when something needs it (the error, the value or a parameter is
// read, an expression is run, too many answers are awaited, the link is
// given another server or destroyed). The server runs the lines in order, so
// each line sees what the lines before it did, and what the caller reads is
// what it would read had it waited for every answer; the round trips it did
// not need are saved. A lost connection is reported by the first read after
// it.
class TcpLink : public PropertyLink {
 public:
  explicit TcpLink(TcpLinkOptions options = {});
  ~TcpLink() override;

  void SetServer(const std::string& server) override;
  std::string GetServer() override;
  void SetParam(int n, const std::string& value) override;
  using PropertyLink::SetParam;
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
  // Takes every awaited answer, in order.
  void Settle();
  void Connect();
  std::string DropConnection(const mlink::LinkError& e);

  struct Connection;
  std::unique_ptr<Connection> c_;
};

}  // namespace dorvik
