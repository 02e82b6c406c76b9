// The link protocol's server: accepts TCP connections and serves each with
// one Session (one M process) on a thread of its own until the connection
// closes. A broken or misbehaving connection is closed alone, with its
// reason in the log.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "mlink/endpoint.h"
#include "mlink/messages.h"
#include "mlink/socket_io.h"
#include "mserver/server_host.h"
#include "mserver/transcript.h"

namespace mserver {

struct ServerOptions {
  mlink::Endpoint listen{"127.0.0.1", 1972};
  std::optional<mlink::Endpoint> advertise;  // announced instead of the real address
  std::uint32_t maxFrame = mlink::kDefaultMaxFrame;
  int maxConnections = 256;
  // Long enough for a user who leaves an installer waiting on a page.
  std::chrono::milliseconds idleTimeout{std::chrono::hours(8)};
  std::chrono::milliseconds handshakeTimeout{std::chrono::seconds(10)};
  std::string initialNamespace = "USER";  // where a new process starts
  mengine::Limits limits;                 // for connection processes
};

class TcpServer {
 public:
  TcpServer(ServerHost& host, ServerOptions options, Transcript* transcript);
  ~TcpServer();

  // Binds and listens; throws std::runtime_error naming the address on failure.
  void Listen();
  // The address actually bound (the real port when 0 was asked for).
  mlink::Endpoint bound() const { return bound_; }

  // Serves connections until Stop(); then closes every connection, ends
  // their processes and returns.
  void Run();
  // Safe from any thread (also from a signal-waiting thread).
  void Stop();

  int connectionCount();

 private:
  struct Connection;
  void Serve(Connection& connection);
  void Converse(Connection& connection);
  void WatchBusyConnections();
  void ReapFinished();

  ServerHost& host_;
  ServerOptions options_;
  Transcript* transcript_;
  mlink::Socket listener_;
  mlink::Endpoint bound_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::atomic<std::uint64_t> nextConnection_{1};
};

}  // namespace mserver
