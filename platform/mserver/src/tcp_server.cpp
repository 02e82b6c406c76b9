#include "mserver/tcp_server.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mlink/errors.h"
#include "mserver/session.h"

namespace mserver {
namespace {

std::string Text(std::string_view a, std::string_view b) {
  std::string out(a);
  out.append(b);
  return out;
}

// The address a socket is bound to (its local end).
mlink::Endpoint LocalEndpoint(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  mlink::Endpoint out;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return out;
  char host[NI_MAXHOST];
  char port[NI_MAXSERV];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    out.host = host;
    out.port = static_cast<std::uint16_t>(std::stoi(port));
  }
  return out;
}

bool IsLoopback(const sockaddr* addr) {
  if (addr->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
    return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
  }
  if (addr->sa_family == AF_INET6) {
    const in6_addr& in6 = reinterpret_cast<const sockaddr_in6*>(addr)->sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&in6) || (IN6_IS_ADDR_V4MAPPED(&in6) && in6.s6_addr[12] == 127);
  }
  return false;
}

std::string PeerText(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  char host[NI_MAXHOST] = "?";
  char port[NI_MAXSERV] = "?";
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    ::getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV);
  }
  return Text(Text(host, ":"), port);
}

// Sends a Fault on a best-effort basis before a close.
void TrySendFault(const mlink::Socket& socket, const std::string& reason) {
  try {
    mlink::WriteAll(socket, mlink::EncodeFrame(mlink::Fault{reason}),
                    mlink::DeadlineAfter(std::chrono::milliseconds(500)));
  } catch (const mlink::LinkError&) {
    // The peer is gone or not reading: the close tells it enough.
  }
}

// P1 and P2 as the connection's process held them after its last answer.
// An answer leaves out a parameter the call did not change: the value the
// request set, or the one it kept. A long routine chunk then crosses the
// connection once, not once in each direction of every call.
struct ParametersHeld {
  std::string p1, p2;

  void LeaveOutUnchanged(const mlink::Request& request, mlink::Answer& answer) {
    LeaveOut(request.keepP1 ? p1 : request.p1, answer.p1, answer.p1Unchanged, p1);
    LeaveOut(request.keepP2 ? p2 : request.p2, answer.p2, answer.p2Unchanged, p2);
  }

 private:
  static void LeaveOut(const std::string& before, std::string& after, bool& unchanged, std::string& held) {
    unchanged = after == before;
    held = after;
    if (unchanged) after.clear();
  }
};

}  // namespace

struct TcpServer::Connection {
  std::uint64_t id = 0;
  std::string peer;
  mlink::Socket socket;
  std::thread thread;
  std::atomic<bool> finished{false};
  std::atomic<bool> busy{false};      // running a line or writing its answer
  std::atomic<std::uint64_t> job{0};  // the process's $JOB once the handshake is done
  // When the last answer went out (or the connection was accepted).
  std::atomic<mlink::Clock::time_point> lastActive{mlink::Clock::now()};
  std::atomic<bool> evicted{false};  // closed to make room for a new connection
  std::mutex sessionMutex;
  Session* session = nullptr;  // guarded by sessionMutex
};

TcpServer::TcpServer(ServerHost& host, ServerOptions options, Transcript* transcript)
    : host_(host), options_(std::move(options)), transcript_(transcript) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error(Text("cannot create a pipe: ", std::strerror(errno)));
  }
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

TcpServer::~TcpServer() {
  Stop();
  for (auto& c : connections_) {
    if (c->thread.joinable()) c->thread.join();
  }
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

int TcpServer::connectionCount() {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (auto& c : connections_) n += c->finished ? 0 : 1;
  return n;
}

void TcpServer::Listen() {
  const std::string where = options_.listen.ToString();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(options_.listen.port);
  if (int rc = ::getaddrinfo(options_.listen.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    throw std::runtime_error("cannot listen on " + where + ": " + ::gai_strerror(rc));
  }
  std::string failure = "no usable address";
  for (addrinfo* a = found; a; a = a->ai_next) {
    if (!options_.allowRemote && !IsLoopback(a->ai_addr)) {
      failure =
          "not a loopback address; the server has no authentication, so listening for "
          "other machines must be allowed explicitly (--allow-remote)";
      continue;
    }
    mlink::Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!s.valid()) continue;
    int one = 1;
    ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(s.fd(), a->ai_addr, a->ai_addrlen) == 0 && ::listen(s.fd(), 128) == 0) {
      listener_ = std::move(s);
      break;
    }
    failure = std::strerror(errno);
  }
  ::freeaddrinfo(found);
  if (!listener_.valid()) throw std::runtime_error("cannot listen on " + where + ": " + failure);
  bound_ = LocalEndpoint(listener_.fd());
  host_.log().Line("listening on " + bound_.ToString() +
                   (options_.advertise ? ", announcing " + options_.advertise->ToString() : ""));
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(listener_.fd(), reinterpret_cast<sockaddr*>(&addr), &len) == 0 &&
      !IsLoopback(reinterpret_cast<sockaddr*>(&addr))) {
    host_.log().Line("WARNING: listening on " + bound_.ToString() +
                     ", which other machines may reach, and the server has no authentication: "
                     "any client that reaches it can read, change and plant code in every namespace");
  }
}

void TcpServer::Stop() {
  stopping_ = true;
  const char byte = 1;
  [[maybe_unused]] auto n = ::write(wakeWrite_, &byte, 1);
}

void TcpServer::ReapFinished() {
  std::lock_guard lock(mutex_);
  connections_.remove_if([](std::unique_ptr<Connection>& c) {
    if (!c->finished) return false;
    c->thread.join();
    return true;
  });
}

// A line may run for long (a LOCK without time-out, a loop); when its client
// has gone away meanwhile, stop the line so the process ends and frees its
// locks.
void TcpServer::WatchBusyConnections() {
  std::lock_guard lock(mutex_);
  for (auto& c : connections_) {
    if (c->finished || !c->busy) continue;
    pollfd p{c->socket.fd(), POLLRDHUP, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
      std::lock_guard sessionLock(c->sessionMutex);
      if (c->session) {
        host_.log().Line("connection " + std::to_string(c->id) + ": client gone while a line runs; stopping it");
        c->session->RequestStop();
      }
    }
  }
}

// The connection table is full: closes the connection idle longest that runs
// no line, has no request waiting and has been idle for
// kIdleBeforeMakingRoom at least, preferring one whose process holds no
// lock; a lock holder qualifies once idle for lockHolderIdle. Its own thread
// sends the Fault and ends its process, which frees its locks (only its
// reading side is shut here, so that no two threads write to it). Answers
// false when no connection qualifies.
bool TcpServer::MakeRoom() {
  std::lock_guard lock(mutex_);
  const auto now = mlink::Clock::now();
  struct Candidate {
    Connection* connection = nullptr;
    mlink::Clock::duration idle{};
  } free, holder;
  for (auto& c : connections_) {
    if (c->finished || c->evicted || c->busy) continue;
    const auto idle = now - c->lastActive.load();
    if (idle < kIdleBeforeMakingRoom) continue;
    const std::uint64_t job = c->job;
    const bool holds = job != 0 && host_.HoldsLocks(job);
    Candidate& best = holds ? holder : free;
    if ((holds && idle < options_.lockHolderIdle) || (best.connection && idle <= best.idle)) continue;
    pollfd p{c->socket.fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) continue;  // a request (or a close) is waiting
    best = {c.get(), idle};
  }
  const Candidate& chosen = free.connection ? free : holder;
  if (!chosen.connection) return false;
  chosen.connection->evicted = true;
  ::shutdown(chosen.connection->socket.fd(), SHUT_RD);
  host_.log().Line("connection " + std::to_string(chosen.connection->id) + ": idle for " +
                   std::to_string(std::chrono::duration_cast<std::chrono::seconds>(chosen.idle).count()) + " s" +
                   (free.connection ? "" : " holding locks") + "; closing it to make room for a new connection");
  return true;
}

int NewcomerReserve(int maxConnections) { return std::max(4, maxConnections / 16); }

bool TcpServer::EveryConnectionHoldsLocks() {
  std::lock_guard lock(mutex_);
  for (auto& c : connections_) {
    if (c->finished) continue;
    const std::uint64_t job = c->job;
    if (job == 0 || !host_.HoldsLocks(job)) return false;
  }
  return true;
}

void TcpServer::Run() {
  if (!listener_.valid()) Listen();
  while (!stopping_) {
    pollfd fds[2] = {{listener_.fd(), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    int rc = ::poll(fds, 2, 200);
    WatchBusyConnections();
    ReapFinished();
    if (rc <= 0 || !(fds[0].revents & POLLIN)) continue;
    int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors or memory: the pending connection stays queued;
        // wait a little instead of spinning on it.
        host_.log().Line(Text("cannot accept a connection: ", std::strerror(errno)));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->id = nextConnection_.fetch_add(1);
    connection->socket = mlink::Socket(fd);
    // Answers go out as soon as they are written, not held back for more.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    connection->peer = PeerText(fd);
    if (connectionCount() >= options_.maxConnections && !MakeRoom()) {
      const int held = connectionCount();
      if (held < options_.maxConnections + NewcomerReserve(options_.maxConnections) && EveryConnectionHoldsLocks()) {
        host_.log().Line("connection from " + connection->peer + " takes a reserved place: all " +
                         std::to_string(held) + " connections hold locks");
      } else {
        host_.log().Line("connection from " + connection->peer + " refused: limit of " +
                         std::to_string(options_.maxConnections) + " connections reached");
        TrySendFault(connection->socket,
                     "too many connections (limit " + std::to_string(options_.maxConnections) + ")");
        continue;
      }
    }
    Connection& ref = *connection;
    std::lock_guard lock(mutex_);
    try {
      ref.thread = std::thread([this, &ref] { Serve(ref); });
    } catch (const std::system_error& e) {
      host_.log().Line("connection from " + ref.peer + " refused: cannot start a thread: " + e.what());
      TrySendFault(ref.socket, "the server cannot take more connections now");
      continue;
    }
    connections_.push_back(std::move(connection));
  }

  // Stopping: wake every connection and end its process.
  host_.log().Line("stopping: closing " + std::to_string(connectionCount()) + " connection(s)");
  {
    std::lock_guard lock(mutex_);
    for (auto& c : connections_) {
      c->socket.Shutdown();
      std::lock_guard sessionLock(c->sessionMutex);
      if (c->session) c->session->RequestStop();
    }
  }
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(connections_);
  }
  for (auto& c : all) {
    if (c->thread.joinable()) c->thread.join();
  }
  listener_.Close();
}

void TcpServer::Serve(Connection& c) {
  const std::string name = "connection " + std::to_string(c.id) + " (" + c.peer + ")";
  std::string reason = "closed by the client";
  try {
    Converse(c);
  } catch (const mlink::ProtocolError& e) {
    reason = Text("closed: bad input: ", e.what());
    TrySendFault(c.socket, e.what());
  } catch (const mlink::LinkError& e) {
    reason = Text("closed: ", e.what());
  } catch (const std::exception& e) {
    reason = Text("closed: server failure: ", e.what());
    TrySendFault(c.socket, e.what());
  }
  if (c.evicted) {
    reason = "closed: made room for a new connection";
    TrySendFault(c.socket,
                 "closed to make room for a new connection (the server's connection limit is "
                 "reached and this connection was idle longest)");
  }
  if (stopping_) reason = "closed: the server is stopping";
  host_.log().Line(name + " " + reason);
  c.socket.Shutdown();
  c.finished = true;
}

void TcpServer::Converse(Connection& c) {
  // Frames stay small until the peer has said hello.
  mlink::FrameReader reader(std::min(options_.maxFrame, kHandshakeMaxFrame));
  auto hello = reader.Next(c.socket, mlink::DeadlineAfter(options_.handshakeTimeout));
  if (!hello) return;
  mlink::Message first = mlink::DecodeBody(*hello);
  auto* h = std::get_if<mlink::Hello>(&first);
  if (!h) throw mlink::ProtocolError("the first message must be a hello");
  if (h->version != mlink::kProtocolVersion) {
    throw mlink::ProtocolError("unsupported protocol version " + std::to_string(h->version) + " (this server speaks " +
                               std::to_string(mlink::kProtocolVersion) + ")");
  }

  reader.SetLimit(options_.maxFrame);

  std::string start = options_.initialNamespace;
  if (!host_.Globals(start)) start = kSystemNamespace;
  Session session(host_, start, nullptr, options_.limits, host_.maxProcessMemory());
  c.job = session.job();
  {
    std::lock_guard lock(c.sessionMutex);
    c.session = &session;
  }
  struct Detach {
    Connection& c;
    ~Detach() {
      std::lock_guard lock(c.sessionMutex);
      c.session = nullptr;
    }
  } detach{c};

  mlink::Welcome welcome;
  // Without --advertise nothing is announced: the address this socket has
  // here is not what a client behind a port forward or a NAT can reach, so
  // the client keeps the address it connected to.
  if (options_.advertise) welcome.serverAddress = options_.advertise->ToString();
  welcome.serverVersion = host_.ZVersion();
  welcome.process = std::to_string(session.job());
  mlink::WriteAll(c.socket, mlink::EncodeFrame(welcome), mlink::DeadlineAfter(options_.handshakeTimeout));
  host_.log().Line("connection " + std::to_string(c.id) + " (" + c.peer + ", client '" + h->clientName +
                   "') served by process " + welcome.process);

  ParametersHeld params;
  while (!stopping_) {
    std::optional<std::string> body;
    try {
      body = reader.Next(c.socket, mlink::DeadlineAfter(options_.idleTimeout));
    } catch (const mlink::TimeoutError&) {
      const std::string idle = "idle for longer than " + std::to_string(options_.idleTimeout.count() / 1000) + " s";
      TrySendFault(c.socket, idle);
      throw mlink::LinkError(idle);
    }
    if (!body) return;
    mlink::Message message = mlink::DecodeBody(*body);
    auto* request = std::get_if<mlink::Request>(&message);
    if (!request) throw mlink::ProtocolError("expected a request after the handshake");

    RequestReport report;
    c.busy = true;
    mlink::Answer answer = session.Run(*request, &report);
    if (transcript_) transcript_->Record(session.job(), report, *request, answer);
    params.LeaveOutUnchanged(*request, answer);
    // A client may send requests ahead and read their answers later: one
    // that reads nothing is idle, so the idle limit bounds the wait.
    mlink::WriteAll(c.socket, mlink::EncodeFrame(answer), mlink::DeadlineAfter(options_.idleTimeout));
    c.lastActive = mlink::Clock::now();
    c.busy = false;
    if (session.halted()) throw mlink::LinkError("the process halted");
  }
}

}  // namespace mserver
