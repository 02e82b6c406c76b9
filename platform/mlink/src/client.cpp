#include "mlink/client.h"

#include <stdexcept>

namespace mlink {

namespace {

// A parameter the answer left out is what the request set it to, or when
// the request kept it, what the process held before.
void FillIn(std::string& value, bool unchanged, std::optional<std::string>& sent, std::string& held) {
  if (unchanged) value = sent ? std::move(*sent) : held;
  held = value;
}

}  // namespace

void Client::Close() {
  socket_.Close();
  sent_.clear();
  heldP1_.clear();
  heldP2_.clear();
}

void Client::Fail(const std::string& text, FailureKind kind, FailureDetails details) {
  Close();
  details.address = endpoint_.ToString();
  throw LinkError(text, kind, std::move(details));
}

void Client::Fail(const std::string& text, const LinkError& cause, std::chrono::milliseconds limit) {
  FailureDetails details = cause.details();
  if (details.limit == 0 && (cause.kind() == FailureKind::NoAnswer || cause.kind() == FailureKind::NotTaken)) {
    details.limit = static_cast<std::uint64_t>(limit.count());
  }
  Fail(text + cause.what(), cause.kind(), std::move(details));
}

Message Client::Receive(Deadline deadline, std::chrono::milliseconds timeout) {
  std::optional<std::string> body;
  try {
    body = reader_.Next(socket_, deadline);
  } catch (const LinkError& e) {
    Fail("server " + endpoint_.ToString() + ": ", e, timeout);
  }
  if (!body) Fail("server " + endpoint_.ToString() + " closed the connection", FailureKind::Closed);
  Message m;
  try {
    m = DecodeBody(*body);
  } catch (const LinkError& e) {
    Fail("server " + endpoint_.ToString() + " sent a bad answer: ", e, timeout);
  }
  if (auto* fault = std::get_if<Fault>(&m)) {
    FailureDetails details;
    details.reason = fault->reason;
    Fail("server " + endpoint_.ToString() + " closed the connection: " + fault->reason, FailureKind::ServerFault,
         std::move(details));
  }
  return m;
}

void Client::Connect(const Endpoint& endpoint) {
  Close();
  endpoint_ = endpoint;
  socket_ = ConnectTcp(endpoint, options_.connectTimeout);
  reader_ = FrameReader(options_.maxFrame, FrameReader::kAnswerSpin);
  const Deadline deadline = DeadlineAfter(options_.connectTimeout);
  try {
    WriteAll(socket_, EncodeFrame(Hello{kProtocolVersion, options_.clientName}), deadline);
  } catch (const LinkError& e) {
    Fail("handshake with " + endpoint.ToString() + " failed: ", e, options_.connectTimeout);
  }
  Message m = Receive(deadline, options_.connectTimeout);
  auto* welcome = std::get_if<Welcome>(&m);
  if (!welcome) Fail("server " + endpoint.ToString() + " did not answer the handshake", FailureKind::NoHandshake);
  if (welcome->version != kProtocolVersion) {
    FailureDetails details;
    details.size = welcome->version;
    Fail("server " + endpoint.ToString() + " speaks protocol version " + std::to_string(welcome->version) +
             ", this client " + std::to_string(kProtocolVersion),
         FailureKind::VersionMismatch, std::move(details));
  }
  welcome_ = std::move(*welcome);
}

Answer Client::Call(const Request& request) {
  if (!sent_.empty()) throw std::logic_error("a call while answers to earlier requests are awaited");
  Send(request);
  return Collect();
}

void Client::Send(const Request& request) {
  if (!connected()) throw LinkError("not connected to a server", FailureKind::NotConnected);
  const std::string frame = EncodeFrame(request);
  if (frame.size() - 4 > options_.maxFrame) {
    // Refuse before sending: the server would drop the connection.
    FailureDetails details;
    details.address = endpoint_.ToString();
    details.size = frame.size() - 4;
    details.limit = options_.maxFrame;
    throw LinkError("request of " + std::to_string(frame.size() - 4) + " bytes exceeds the frame limit of " +
                        std::to_string(options_.maxFrame),
                    FailureKind::RequestTooLarge, std::move(details));
  }
  try {
    // Answers to earlier requests are taken in while the server does not
    // take this one, or both sides could wait for the other to read.
    WriteAll(socket_, frame, DeadlineAfter(options_.callTimeout), sent_.empty() ? nullptr : &reader_);
  } catch (const LinkError& e) {
    Fail("server " + endpoint_.ToString() + ": ", e, options_.callTimeout);
  }
  SentParameters sent;
  if (!request.keepP1) sent.p1 = request.p1;
  if (!request.keepP2) sent.p2 = request.p2;
  sent_.push_back(std::move(sent));
}

Answer Client::Collect() {
  if (!connected()) throw LinkError("not connected to a server", FailureKind::NotConnected);
  if (sent_.empty()) throw std::logic_error("no answer is awaited");
  Message m = Receive(DeadlineAfter(options_.callTimeout), options_.callTimeout);
  auto* answer = std::get_if<Answer>(&m);
  if (!answer) {
    Fail("server " + endpoint_.ToString() + " answered a request with another message", FailureKind::UnexpectedMessage);
  }
  SentParameters& sent = sent_.front();
  FillIn(answer->p1, answer->p1Unchanged, sent.p1, heldP1_);
  FillIn(answer->p2, answer->p2Unchanged, sent.p2, heldP2_);
  answer->p1Unchanged = answer->p2Unchanged = false;
  sent_.pop_front();
  return std::move(*answer);
}

}  // namespace mlink
