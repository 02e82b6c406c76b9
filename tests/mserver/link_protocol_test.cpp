// The link protocol's codec and the client's behaviour against peers that
// misbehave (refuse, stay silent, close in mid-frame, send garbage).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "mlink/socket_io.h"

#include "mlink/client.h"
#include "mlink/endpoint.h"
#include "mlink/messages.h"

namespace {

using namespace std::chrono_literals;

const std::string kAllBytes = [] {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}();

TEST(LinkProtocol, MessagesSurviveEncodingWithEveryByteValue) {
  mlink::Request request{"%SYS", kAllBytes, "\x8f\xe0\xa8\xa2\xa5\xe2", "s text(P1)=P2"};
  auto decoded = std::get<mlink::Request>(mlink::DecodeBody(mlink::EncodeBody(request)));
  EXPECT_EQ(decoded.nameSpace, "%SYS");
  EXPECT_EQ(decoded.p1, kAllBytes);
  EXPECT_EQ(decoded.p2, "\x8f\xe0\xa8\xa2\xa5\xe2");
  EXPECT_EQ(decoded.code, "s text(P1)=P2");

  // A kept parameter travels as nothing, whatever the struct holds.
  mlink::Request kept{"USER", "ignored", "2", "s x=1", true, false};
  auto k = std::get<mlink::Request>(mlink::DecodeBody(mlink::EncodeBody(kept)));
  EXPECT_TRUE(k.keepP1);
  EXPECT_FALSE(k.keepP2);
  EXPECT_EQ(k.p1, "");
  EXPECT_EQ(k.p2, "2");
  EXPECT_FALSE(decoded.keepP1 || decoded.keepP2);

  mlink::Answer answer{1, "<UNDEFINED>st+3^dorvik *x", kAllBytes, "", "2", "USER"};
  auto a = std::get<mlink::Answer>(mlink::DecodeBody(mlink::EncodeBody(answer)));
  EXPECT_EQ(a.error, 1);
  EXPECT_EQ(a.errorName, "<UNDEFINED>st+3^dorvik *x");
  EXPECT_EQ(a.value, kAllBytes);
  EXPECT_EQ(a.p2, "2");
  EXPECT_EQ(a.nameSpace, "USER");

  auto w = std::get<mlink::Welcome>(
      mlink::DecodeBody(mlink::EncodeBody(mlink::Welcome{mlink::kProtocolVersion, "10.0.0.5:1972", "v", "7"})));
  EXPECT_EQ(w.serverAddress, "10.0.0.5:1972");

  // The frame prefix is the body length, big-endian.
  std::string frame = mlink::EncodeFrame(mlink::Fault{"x"});
  ASSERT_EQ(frame.size(), 4u + 1u + 4u + 1u);
  EXPECT_EQ(frame.substr(0, 4), std::string("\0\0\0\x06", 4));
}

TEST(LinkProtocol, MalformedBodiesAreRejected) {
  const std::string good = mlink::EncodeBody(mlink::Request{"USER", "1", "2", "s x=1"});
  // Every truncation of a valid body fails, as do trailing bytes.
  for (std::size_t n = 0; n < good.size(); ++n) {
    EXPECT_THROW(mlink::DecodeBody(good.substr(0, n)), mlink::ProtocolError) << "length " << n;
  }
  EXPECT_THROW(mlink::DecodeBody(good + "x"), mlink::ProtocolError);
  EXPECT_THROW(mlink::DecodeBody(std::string("\x09", 1)), mlink::ProtocolError);
  // A string length far beyond the body must not allocate or read past it.
  EXPECT_THROW(mlink::DecodeBody(std::string("\x05\xff\xff\xff\xf0zz", 7)), mlink::ProtocolError);
  // The kept-parameters byte: unknown bits, or a kept parameter that
  // carries a value, are malformed.
  std::string unknownBits = good;
  unknownBits[1 + 4 + 4] = '\x04';
  EXPECT_THROW(mlink::DecodeBody(unknownBits), mlink::ProtocolError);
  std::string keptWithValue = good;
  keptWithValue[1 + 4 + 4] = '\x01';
  EXPECT_THROW(mlink::DecodeBody(keptWithValue), mlink::ProtocolError);
  keptWithValue[1 + 4 + 4] = '\x02';
  EXPECT_THROW(mlink::DecodeBody(keptWithValue), mlink::ProtocolError);
  // So for an answer's unchanged-parameters byte.
  mlink::Answer answer{0, "", "", "", "2", "USER", true, false};
  std::string unchangedWithValue = mlink::EncodeBody(answer);
  const std::size_t flags = 1 + 4 + 4 + 0 + 4 + 0;
  ASSERT_EQ(unchangedWithValue[flags], '\x01');
  EXPECT_NO_THROW(mlink::DecodeBody(unchangedWithValue));
  unchangedWithValue[flags] = '\x02';
  EXPECT_THROW(mlink::DecodeBody(unchangedWithValue), mlink::ProtocolError);
  unchangedWithValue[flags] = '\x08';
  EXPECT_THROW(mlink::DecodeBody(unchangedWithValue), mlink::ProtocolError);
  std::string hello = mlink::EncodeBody(mlink::Hello{mlink::kProtocolVersion, "c"});
  hello[1] = 'X';
  EXPECT_THROW(mlink::DecodeBody(hello), mlink::ProtocolError);
}

TEST(LinkProtocol, EndpointsParseAndPrint) {
  EXPECT_EQ(mlink::ParseEndpoint("127.0.0.1:1972").ToString(), "127.0.0.1:1972");
  EXPECT_EQ(mlink::ParseEndpoint(":56773").ToString(), "127.0.0.1:56773");
  EXPECT_EQ(mlink::ParseEndpoint("[::1]:1972").host, "::1");
  EXPECT_EQ(mlink::ParseEndpoint("[::1]:1972").ToString(), "[::1]:1972");
  for (const char* bad : {"localhost", "host:", "host:70000", "host:12a", "::1:5", "h:-1"}) {
    EXPECT_THROW(mlink::ParseEndpoint(bad), std::invalid_argument) << bad;
  }
}

// The reader's buffering: frames cut anywhere, several frames in one read,
// frames larger than its buffer, and the peer's close before or inside one.
TEST(LinkProtocol, FrameReaderReassemblesWhateverTheReadsDeliver) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  mlink::Socket reading(fds[0]);
  mlink::Socket writing(fds[1]);
  const auto deadline = mlink::DeadlineAfter(5000ms);
  const std::string small = mlink::EncodeFrame(mlink::Request{"USER", "1", "", "s x=1"});
  std::string big(200000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  const std::string large = mlink::EncodeFrame(mlink::Request{"USER", big, kAllBytes, "s text(P1)=P2"});

  std::thread peer([&] {
    // Three frames at once, then one byte at a time, then the large frame
    // in uneven pieces.
    mlink::WriteAll(writing, small + small + small, deadline);
    for (char c : small) {
      mlink::WriteAll(writing, std::string(1, c), deadline);
      std::this_thread::sleep_for(100us);
    }
    for (std::size_t at = 0; at < large.size(); at += 70001) {
      mlink::WriteAll(writing, large.substr(at, 70001), deadline);
      std::this_thread::sleep_for(1ms);
    }
    mlink::WriteAll(writing, small.substr(0, 3), deadline);
    writing.Shutdown();
  });
  mlink::FrameReader reader(mlink::kDefaultMaxFrame);
  for (int i = 0; i < 4; ++i) {
    auto body = reader.Next(reading, deadline);
    ASSERT_TRUE(body.has_value());
    EXPECT_EQ(std::get<mlink::Request>(mlink::DecodeBody(*body)).code, "s x=1");
  }
  auto body = reader.Next(reading, deadline);
  ASSERT_TRUE(body.has_value());
  const auto request = std::get<mlink::Request>(mlink::DecodeBody(*body));
  EXPECT_EQ(request.p1, big);
  EXPECT_EQ(request.p2, kAllBytes);
  // Three bytes of a length, then the close: a broken frame, not a clean end.
  EXPECT_THROW(reader.Next(reading, deadline), mlink::LinkError);
  peer.join();

  // A close between frames is the clean end; a length over the limit is bad input.
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  mlink::Socket a(fds[0]);
  mlink::Socket b(fds[1]);
  mlink::WriteAll(b, small, deadline);
  mlink::WriteAll(b, std::string("\0\x01\0\0", 4), deadline);
  mlink::FrameReader limited(1000);
  EXPECT_TRUE(limited.Next(a, deadline).has_value());
  EXPECT_THROW(limited.Next(a, deadline), mlink::ProtocolError);
  b.Shutdown();
  mlink::FrameReader fresh(1000);
  EXPECT_FALSE(fresh.Next(a, deadline).has_value());
}

// A listening socket on a free loopback port, driven by the test.
class FakeServer {
 public:
  FakeServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 4);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~FakeServer() { ::close(fd_); }
  mlink::Endpoint endpoint() const { return {"127.0.0.1", port_}; }
  int Accept() { return ::accept(fd_, nullptr, nullptr); }

 private:
  int fd_;
  std::uint16_t port_;
};

void Send(int fd, const std::string& bytes) {
  ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

TEST(LinkClient, ReportsRefusedSilentAndBrokenServersClearly) {
  std::uint16_t closedPort;
  {
    FakeServer gone;
    closedPort = gone.endpoint().port;
  }
  mlink::ClientOptions options;
  options.connectTimeout = 2s;
  options.callTimeout = 300ms;
  {
    mlink::Client c(options);
    try {
      c.Connect({"127.0.0.1", closedPort});
      FAIL() << "connected to a closed port";
    } catch (const mlink::LinkError& e) {
      EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(std::to_string(closedPort)), std::string::npos);
      // What failed and where, for a program to say in its own words.
      EXPECT_EQ(e.kind(), mlink::FailureKind::Refused);
      EXPECT_EQ(e.details().address, "127.0.0.1:" + std::to_string(closedPort));
    }
  }

  FakeServer server;
  // Silent during the handshake: the connect time limit ends the wait.
  {
    mlink::ClientOptions quick = options;
    quick.connectTimeout = 300ms;
    mlink::Client c(quick);
    const auto start = std::chrono::steady_clock::now();
    std::thread peer([&] {
      int fd = server.Accept();
      std::this_thread::sleep_for(800ms);
      ::close(fd);
    });
    EXPECT_THROW(c.Connect(server.endpoint()), mlink::LinkError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 700ms);
    peer.join();
  }
  // Handshake done, then silence: the call time limit ends the wait and the
  // connection is closed.
  {
    mlink::Client c(options);
    std::thread peer([&] {
      int fd = server.Accept();
      char buf[256];
      [[maybe_unused]] auto n = ::recv(fd, buf, sizeof buf, 0);
      Send(fd, mlink::EncodeFrame(mlink::Welcome{mlink::kProtocolVersion, "1.2.3.4:5", "v", "9"}));
      std::this_thread::sleep_for(800ms);
      ::close(fd);
    });
    c.Connect(server.endpoint());
    EXPECT_EQ(c.welcome().serverAddress, "1.2.3.4:5");
    try {
      c.Call({"USER", "", "", "h 10"});
      FAIL() << "the call did not time out";
    } catch (const mlink::LinkError& e) {
      EXPECT_NE(std::string(e.what()).find("time limit"), std::string::npos) << e.what();
      EXPECT_EQ(e.kind(), mlink::FailureKind::NoAnswer);
      EXPECT_EQ(e.details().limit, 300u);
      EXPECT_EQ(e.details().address, server.endpoint().ToString());
    }
    EXPECT_FALSE(c.connected());
    EXPECT_THROW(c.Call({"USER", "", "", "s x=1"}), mlink::LinkError);
    peer.join();
  }
  // A close in the middle of an answer, and an oversized frame.
  for (const std::string& answer : {std::string("\0\0\0\x40\x04\0\0", 7), std::string("\x7f\0\0\0", 4)}) {
    mlink::Client c(options);
    std::thread peer([&] {
      int fd = server.Accept();
      char buf[256];
      [[maybe_unused]] auto n = ::recv(fd, buf, sizeof buf, 0);
      Send(fd, mlink::EncodeFrame(mlink::Welcome{mlink::kProtocolVersion, "a:1", "v", "9"}));
      n = ::recv(fd, buf, sizeof buf, 0);
      Send(fd, answer);
      ::close(fd);
    });
    c.Connect(server.endpoint());
    EXPECT_THROW(c.Call({"USER", "", "", "s x=1"}), mlink::LinkError);
    EXPECT_FALSE(c.connected());
    peer.join();
  }
}

}  // namespace
