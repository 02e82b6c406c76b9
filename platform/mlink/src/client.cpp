#include "mlink/client.h"

namespace mlink {

void Client::Close() { socket_.Close(); }

void Client::Fail(const std::string& text) {
  socket_.Close();
  throw LinkError(text);
}

Message Client::Receive(Deadline deadline) {
  std::optional<std::string> body;
  try {
    body = reader_.Next(socket_, deadline);
  } catch (const LinkError& e) {
    Fail("server " + endpoint_.ToString() + ": " + e.what());
  }
  if (!body) Fail("server " + endpoint_.ToString() + " closed the connection");
  Message m;
  try {
    m = DecodeBody(*body);
  } catch (const LinkError& e) {
    Fail("server " + endpoint_.ToString() + " sent a bad answer: " + e.what());
  }
  if (auto* fault = std::get_if<Fault>(&m)) {
    Fail("server " + endpoint_.ToString() + " closed the connection: " + fault->reason);
  }
  return m;
}

void Client::Connect(const Endpoint& endpoint) {
  Close();
  endpoint_ = endpoint;
  socket_ = ConnectTcp(endpoint, options_.connectTimeout);
  reader_ = FrameReader(options_.maxFrame);
  const Deadline deadline = DeadlineAfter(options_.connectTimeout);
  try {
    WriteAll(socket_, EncodeFrame(Hello{kProtocolVersion, options_.clientName}), deadline);
  } catch (const LinkError& e) {
    Fail("handshake with " + endpoint.ToString() + " failed: " + e.what());
  }
  Message m = Receive(deadline);
  auto* welcome = std::get_if<Welcome>(&m);
  if (!welcome) Fail("server " + endpoint.ToString() + " did not answer the handshake");
  if (welcome->version != kProtocolVersion) {
    Fail("server " + endpoint.ToString() + " speaks protocol version " +
         std::to_string(welcome->version) + ", this client " + std::to_string(kProtocolVersion));
  }
  welcome_ = std::move(*welcome);
}

Answer Client::Call(const Request& request) {
  if (!connected()) throw LinkError("not connected to a server");
  const Deadline deadline = DeadlineAfter(options_.callTimeout);
  const std::string frame = EncodeFrame(request);
  if (frame.size() - 4 > options_.maxFrame) {
    // Refuse before sending: the server would drop the connection.
    throw LinkError("request of " + std::to_string(frame.size() - 4) +
                    " bytes exceeds the frame limit of " + std::to_string(options_.maxFrame));
  }
  try {
    WriteAll(socket_, frame, deadline);
  } catch (const LinkError& e) {
    Fail("server " + endpoint_.ToString() + ": " + e.what());
  }
  Message m = Receive(deadline);
  auto* answer = std::get_if<Answer>(&m);
  if (!answer) Fail("server " + endpoint_.ToString() + " answered a request with another message");
  return std::move(*answer);
}

}  // namespace mlink
