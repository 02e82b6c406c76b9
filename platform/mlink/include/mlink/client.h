// Blocking client of the link protocol: one connection to one server
// process whose local variables and locks last until Close().
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>

#include "mlink/endpoint.h"
#include "mlink/errors.h"
#include "mlink/messages.h"
#include "mlink/socket_io.h"

namespace mlink {

struct ClientOptions {
  std::chrono::milliseconds connectTimeout{5000};
  // Upper bound for one call, from sending the request to the whole answer;
  // 0 waits without limit.
  std::chrono::milliseconds callTimeout{120000};
  std::uint32_t maxFrame = kDefaultMaxFrame;
  std::string clientName = "mlink";
};

class Client {
 public:
  Client() = default;
  explicit Client(ClientOptions options) : options_(std::move(options)) {}

  // Connects and performs the handshake. Throws LinkError.
  void Connect(const Endpoint& endpoint);
  bool connected() const { return socket_.valid(); }
  void Close();

  // What the server announced in the handshake.
  const Welcome& welcome() const { return welcome_; }

  // Runs one request. A server-side M error is reported in Answer::error;
  // transport and protocol failures throw LinkError and close the
  // connection, since its state is then unknown. No answer may be awaited.
  Answer Call(const Request& request);

  // Sends a request without waiting for its answer: the server runs the
  // requests of a connection in order and answers them in order, so a client
  // need not wait for answers it does not need yet. Collect() takes the
  // answer to the oldest request sent and not yet collected. Both throw as
  // Call does.
  void Send(const Request& request);
  Answer Collect();
  // Requests sent whose answers have not been collected.
  int awaited() const { return static_cast<int>(sent_.size()); }

 private:
  // Close the connection and throw a LinkError of the given kind, naming
  // the server; the second form keeps the kind and details of the failure
  // that caused it, with `limit` as the time limit a wait had.
  [[noreturn]] void Fail(const std::string& text, FailureKind kind, FailureDetails details = {});
  [[noreturn]] void Fail(const std::string& text, const LinkError& cause, std::chrono::milliseconds limit);
  // Receives the next message before the deadline, which is `timeout`
  // (named in a failure) after the wait began.
  Message Receive(Deadline deadline, std::chrono::milliseconds timeout);

  ClientOptions options_;
  Endpoint endpoint_;
  Socket socket_;
  FrameReader reader_{kDefaultMaxFrame};
  Welcome welcome_;
  // What each request awaiting its answer set P1 and P2 to (nothing when it
  // kept them), and what the process held after the last answer: an answer
  // leaves out a parameter the call did not change.
  struct SentParameters {
    std::optional<std::string> p1, p2;
  };
  std::deque<SentParameters> sent_;
  std::string heldP1_, heldP2_;
};

}  // namespace mlink
