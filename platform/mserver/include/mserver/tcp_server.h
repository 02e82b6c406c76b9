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

// Largest frame before the handshake: a Hello is a few dozen bytes.
inline constexpr std::uint32_t kHandshakeMaxFrame = 4096;

// When every connection is taken, the one idle longest that runs no line
// and has no request waiting makes room for the new one, provided it has
// been idle this long: a client between two requests is not cut off. One
// whose process holds no lock goes first; one that holds locks only when
// every candidate does, and only once idle for ServerOptions::lockHolderIdle
// (closing it ends its process and so frees its locks). Without such a
// connection the new one is refused, unless every connection's process
// holds locks: then the newcomer takes one of a few reserved places
// (kNewcomerReserve), so that a table full of lock holders never shuts a
// normal client out.
inline constexpr std::chrono::milliseconds kIdleBeforeMakingRoom{1000};

// The places beyond maxConnections kept for newcomers while every
// connection holds locks: a sixteenth of the table, at least 4.
int NewcomerReserve(int maxConnections);

struct ServerOptions {
  mlink::Endpoint listen{"127.0.0.1", 1972};
  // The server has no authentication: listening on anything but a loopback
  // address must be asked for explicitly.
  bool allowRemote = false;
  // The address announced in the handshake as the one to use; none is
  // announced without it.
  std::optional<mlink::Endpoint> advertise;
  std::uint32_t maxFrame = mlink::kDefaultMaxFrame;
  int maxConnections = 256;
  // Long enough for a user who leaves an installer on a page for a while;
  // short enough that forgotten connections do not pile up.
  std::chrono::milliseconds idleTimeout{std::chrono::minutes(30)};
  std::chrono::milliseconds handshakeTimeout{std::chrono::seconds(10)};
  // How long a connection whose process holds locks must have been idle
  // before it may be closed to make room: connections that hold locks and
  // say nothing must not lock every other client out, and one that used its
  // lock a moment ago (the installer between two steps) keeps it.
  std::chrono::milliseconds lockHolderIdle{std::chrono::seconds(10)};
  std::string initialNamespace = "USER";  // where a new process starts
  mengine::Limits limits;                 // for connection processes
};

class TcpServer {
 public:
  TcpServer(ServerHost& host, ServerOptions options, Transcript* transcript);
  ~TcpServer();

  // Binds and listens; throws std::runtime_error naming the address on
  // failure, or when it is not a loopback address and remote clients were
  // not allowed. Logs a warning when it listens for remote clients.
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
  bool MakeRoom();
  bool EveryConnectionHoldsLocks();

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
