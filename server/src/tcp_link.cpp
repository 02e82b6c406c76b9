#include "server/tcp_link.h"

#include "distribution/funcs.h"
#include "mlink/client.h"
#include "mlink/endpoint.h"
#include "mlink/errors.h"

namespace dorvik {

// Error code reported when the server cannot be reached or was lost; the
// server's own errors use 1.
constexpr int kLinkFailure = -1;

struct TcpLink::Connection {
  TcpLinkOptions options;
  std::unique_ptr<mlink::Client> client;
  // Once a connection is lost its server process is gone with its local
  // variables; later calls fail until a server is set again.
  std::string broken;
};

TcpLink::TcpLink(TcpLinkOptions options) : c_(std::make_unique<Connection>()) { c_->options = options; }
TcpLink::~TcpLink() = default;

void TcpLink::SetServer(const std::string& server) {
  if (server != server_ || !c_->broken.empty()) {
    c_->client.reset();
    c_->broken.clear();
  }
  server_ = server;
}

std::string TcpLink::GetServer() {
  if (c_->client) {
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

void TcpLink::RunCode(const std::string& code) {
  ClearError();
  if (!c_->broken.empty()) {
    SetError(kLinkFailure, c_->broken);
    return;
  }
  try {
    if (!c_->client) {
      std::string ip, port;
      ParseServerString(server_, ip, port);
      if (ip.empty() || port.empty()) throw mlink::LinkError("no server address in \"" + server_ + "\"");
      mlink::ClientOptions options;
      options.connectTimeout = c_->options.connectTimeout;
      options.callTimeout = c_->options.callTimeout;
      options.clientName = "dorvik";
      auto client = std::make_unique<mlink::Client>(options);
      mlink::Endpoint endpoint;
      try {
        endpoint = mlink::ParseEndpoint(ip + ":" + port);
      } catch (const std::exception& e) {
        throw mlink::LinkError(std::string("bad server address: ") + e.what());
      }
      client->Connect(endpoint);
      c_->client = std::move(client);
    }
    mlink::Request request;
    request.nameSpace = ns_;
    request.p1 = p1_;
    request.p2 = p2_;
    request.code = code;
    const mlink::Answer answer = c_->client->Call(request);
    p1_ = answer.p1;
    p2_ = answer.p2;
    if (!code.empty() && code[0] == '$') value_ = answer.value;
    if (answer.error != 0) SetError(answer.error, answer.errorName);
  } catch (const mlink::LinkError& e) {
    const bool wasConnected = c_->client != nullptr;
    c_->client.reset();
    const std::string text = std::string("<LINK> ") + e.what();
    SetError(kLinkFailure, text);
    if (wasConnected) c_->broken = text;
  }
}

}  // namespace dorvik
