#include "link/tcp_link.h"

#include <deque>

#include "distribution/funcs.h"
#include "link/link_texts.h"
#include "mlink/client.h"
#include "mlink/endpoint.h"
#include "mlink/errors.h"

namespace dorvik {

// Error code reported when the server cannot be reached or was lost; the
// server's own errors use 1.
constexpr int kLinkFailure = -1;

// Answers awaited at most before the link takes them.
constexpr std::size_t kMaxAwaited = 16;

namespace {

// A line sent whose answer has not been taken yet, and which of the
// properties its answer still sets: a property written by the caller after
// the line was sent keeps the caller's value.
struct Awaited {
  bool error = true;
  bool value = false;
  bool p1 = true;
  bool p2 = true;
};

}  // namespace

struct TcpLink::Connection {
  TcpLinkOptions options;
  std::unique_ptr<mlink::Client> client;
  // Once a connection is lost its server process is gone with its local
  // variables; later calls fail until a server is set again.
  std::string broken;
  std::deque<Awaited> awaited;
  // Whether the server process holds the link's P1 and P2 already, so that
  // a request need not send them again.
  bool p1Held = false;
  bool p2Held = false;
};

TcpLink::TcpLink(TcpLinkOptions options) : c_(std::make_unique<Connection>()) { c_->options = options; }

TcpLink::~TcpLink() {
  // The last lines must run to their end: closing the connection earlier
  // would stop them.
  Settle();
}

void TcpLink::SetServer(const std::string& server) {
  if (server != server_ || !c_->broken.empty()) {
    Settle();
    c_->client.reset();
    c_->broken.clear();
  }
  server_ = server;
}

// A server that announces an address (mserver --advertise) tells which one
// its clients are to use; one that announces none is used at the address
// the link connected to, which is what the caller gave.
std::string TcpLink::GetServer() {
  if (c_->client && !c_->client->welcome().serverAddress.empty()) {
    try {
      const auto used = mlink::ParseEndpoint(c_->client->welcome().serverAddress);
      return BuildServerString(used.host, std::to_string(used.port));
    } catch (const std::exception&) {
      // An address we cannot parse: keep reporting what was asked for.
    }
  }
  return server_;
}

std::string TcpLink::ServerVersion() const { return c_->client ? c_->client->welcome().serverVersion : ""; }

void TcpLink::SetParam(int n, const std::string& value) {
  for (Awaited& a : c_->awaited) (n == 2 ? a.p2 : a.p1) = false;
  (n == 2 ? c_->p2Held : c_->p1Held) = false;
  PropertyLink::SetParam(n, value);
}

std::string TcpLink::GetParam(int n) {
  Settle();
  return PropertyLink::GetParam(n);
}

std::string TcpLink::GetValue() {
  Settle();
  return PropertyLink::GetValue();
}

void TcpLink::SetValue(const std::string& value) {
  for (Awaited& a : c_->awaited) a.value = false;
  PropertyLink::SetValue(value);
}

void TcpLink::ClearError() {
  for (Awaited& a : c_->awaited) a.error = false;
  PropertyLink::ClearError();
}

int TcpLink::ErrorCode() {
  Settle();
  return PropertyLink::ErrorCode();
}

std::string TcpLink::ErrorText() {
  Settle();
  return PropertyLink::ErrorText();
}

void TcpLink::Connect() {
  std::string ip, port;
  ParseServerString(server_, ip, port);
  mlink::FailureDetails address;
  address.address = server_;
  if (ip.empty() || port.empty()) {
    throw mlink::LinkError("no server address in \"" + server_ + "\"", mlink::FailureKind::BadAddress, address);
  }
  mlink::ClientOptions options;
  options.connectTimeout = c_->options.connectTimeout;
  options.callTimeout = c_->options.callTimeout;
  options.clientName = "dorvik";
  auto client = std::make_unique<mlink::Client>(options);
  mlink::Endpoint endpoint;
  try {
    endpoint = mlink::ParseEndpoint(ip + ":" + port);
  } catch (const std::exception& e) {
    address.address = ip + ":" + port;
    throw mlink::LinkError(std::string("bad server address: ") + e.what(), mlink::FailureKind::BadAddress, address);
  }
  client->Connect(endpoint);
  c_->client = std::move(client);
  c_->p1Held = c_->p2Held = false;
}

void TcpLink::RunCode(const std::string& code) {
  ClearError();
  if (!c_->broken.empty()) {
    SetError(kLinkFailure, c_->broken);
    return;
  }
  const bool expression = !code.empty() && code[0] == '$';
  try {
    if (!c_->client) Connect();
    if (c_->awaited.size() >= kMaxAwaited) {
      Settle();
      if (!c_->broken.empty()) {
        SetError(kLinkFailure, c_->broken);
        return;
      }
    }
    mlink::Request request;
    request.nameSpace = ns_;
    request.keepP1 = c_->p1Held;
    request.keepP2 = c_->p2Held;
    if (!request.keepP1) request.p1 = p1_;
    if (!request.keepP2) request.p2 = p2_;
    request.code = code;
    c_->client->Send(request);
    c_->awaited.push_back({true, expression, true, true});
    c_->p1Held = c_->p2Held = true;
  } catch (const mlink::LinkError& e) {
    // A connection that never came up leaves nothing broken: the next line
    // tries again.
    SetError(kLinkFailure, c_->client ? DropConnection(e) : LinkFailureText(e));
    return;
  }
  // An expression is run for its value, which is read next.
  if (expression) Settle();
}

// The server process is gone with the connection, and every answer awaited
// with it; later lines fail until a server is set again.
std::string TcpLink::DropConnection(const mlink::LinkError& e) {
  c_->client.reset();
  c_->awaited.clear();
  c_->broken = LinkFailureText(e);
  return c_->broken;
}

void TcpLink::Settle() {
  while (!c_->awaited.empty()) {
    const Awaited a = c_->awaited.front();
    mlink::Answer answer;
    try {
      answer = c_->client->Collect();
    } catch (const mlink::LinkError& e) {
      // This line and every one sent after it failed with the connection;
      // the newest of them is the one whose error counts, if still wanted.
      const bool errorWanted = c_->awaited.back().error;
      const std::string text = DropConnection(e);
      if (errorWanted) SetError(kLinkFailure, text);
      return;
    }
    c_->awaited.pop_front();
    if (a.p1) p1_ = std::move(answer.p1);
    if (a.p2) p2_ = std::move(answer.p2);
    if (a.value) value_ = std::move(answer.value);
    if (a.error && answer.error != 0) SetError(answer.error, answer.errorName);
  }
}

}  // namespace dorvik
