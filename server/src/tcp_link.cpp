#include "server/tcp_link.h"

#include "distribution/funcs.h"
#include "mlink/client.h"
#include "mlink/endpoint.h"
#include "mlink/errors.h"

namespace dorvik {

// Error code reported when the server cannot be reached or was lost; the
// server's own errors use 1.
constexpr int kLinkFailure = -1;

struct TcpLink::State {
  TcpLinkOptions options;
  std::string server;
  std::string ns;
  std::string p1, p2, value;
  int error = 0;
  std::string errorName;
  std::unique_ptr<mlink::Client> client;
  // Once a connection is lost its server process is gone with its local
  // variables; later calls fail until a server is set again.
  std::string broken;
};

TcpLink::TcpLink(TcpLinkOptions options) : s_(std::make_unique<State>()) { s_->options = options; }
TcpLink::~TcpLink() = default;

void TcpLink::SetServer(const std::string& server) {
  if (server != s_->server || !s_->broken.empty()) {
    s_->client.reset();
    s_->broken.clear();
  }
  s_->server = server;
}

std::string TcpLink::GetServer() {
  if (s_->client) {
    try {
      const auto used = mlink::ParseEndpoint(s_->client->welcome().serverAddress);
      return BuildServerString(used.host, std::to_string(used.port));
    } catch (const std::exception&) {
      // An address we cannot parse: keep reporting what was asked for.
    }
  }
  return s_->server;
}

void TcpLink::SetNamespace(const std::string& ns) { s_->ns = ns; }

void TcpLink::SetParam(int n, const std::string& value) { (n == 2 ? s_->p2 : s_->p1) = value; }

std::string TcpLink::GetParam(int n) { return n == 2 ? s_->p2 : s_->p1; }

std::string TcpLink::GetValue() { return s_->value; }
void TcpLink::SetValue(const std::string& value) { s_->value = value; }
void TcpLink::ClearError() {
  s_->error = 0;
  s_->errorName.clear();
}
int TcpLink::ErrorCode() { return s_->error; }
std::string TcpLink::ErrorText() { return s_->errorName; }

std::string TcpLink::ServerVersion() const { return s_->client ? s_->client->welcome().serverVersion : ""; }

void TcpLink::RunCode(const std::string& code) {
  s_->error = 0;
  s_->errorName.clear();
  if (!s_->broken.empty()) {
    s_->error = kLinkFailure;
    s_->errorName = s_->broken;
    return;
  }
  try {
    if (!s_->client) {
      std::string ip, port;
      ParseServerString(s_->server, ip, port);
      if (ip.empty() || port.empty()) throw mlink::LinkError("no server address in \"" + s_->server + "\"");
      mlink::ClientOptions options;
      options.connectTimeout = s_->options.connectTimeout;
      options.callTimeout = s_->options.callTimeout;
      options.clientName = "dorvik";
      auto client = std::make_unique<mlink::Client>(options);
      mlink::Endpoint endpoint;
      try {
        endpoint = mlink::ParseEndpoint(ip + ":" + port);
      } catch (const std::exception& e) {
        throw mlink::LinkError(std::string("bad server address: ") + e.what());
      }
      client->Connect(endpoint);
      s_->client = std::move(client);
    }
    mlink::Request request;
    request.nameSpace = s_->ns;
    request.p1 = s_->p1;
    request.p2 = s_->p2;
    request.code = code;
    const mlink::Answer answer = s_->client->Call(request);
    s_->p1 = answer.p1;
    s_->p2 = answer.p2;
    if (!code.empty() && code[0] == '$') s_->value = answer.value;
    if (answer.error != 0) {
      s_->error = answer.error;
      s_->errorName = answer.errorName;
    }
  } catch (const mlink::LinkError& e) {
    const bool wasConnected = s_->client != nullptr;
    s_->client.reset();
    s_->error = kLinkFailure;
    s_->errorName = std::string("<LINK> ") + e.what();
    if (wasConnected) s_->broken = s_->errorName;
  }
}

}  // namespace dorvik
