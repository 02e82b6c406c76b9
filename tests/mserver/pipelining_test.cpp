// Requests sent ahead of their answers: the server runs them in order and
// answers them in order, a kept parameter is what the line before left, and
// a client that keeps sending while answers pile up cannot deadlock with a
// server that keeps answering.
#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>
#include <utility>

#include "server_fixture.h"

namespace mserver_test {
namespace {

mlink::Request Line(const std::string& code, bool keep = true) {
  mlink::Request r;
  r.nameSpace = "USER";
  r.code = code;
  r.keepP1 = r.keepP2 = keep;
  return r;
}

TEST(Pipelining, RequestsSentAheadRunAndAreAnsweredInOrder) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client client = server.Connect();
  constexpr int kLines = 200;
  for (int i = 1; i <= kLines; ++i) client.Send(Line("s n=$g(n)+1,P1=n"));
  EXPECT_EQ(client.awaited(), kLines);
  // A call would take the first awaited answer for its own.
  EXPECT_THROW(client.Call(Line("s x=1")), std::logic_error);
  for (int i = 1; i <= kLines; ++i) {
    const mlink::Answer a = client.Collect();
    ASSERT_EQ(a.error, 0) << a.errorName;
    ASSERT_EQ(a.p1, std::to_string(i));
  }
  EXPECT_THROW(client.Collect(), std::logic_error);
  EXPECT_EQ(Call(client, "$g(n)").value, std::to_string(kLines));

  // An error in one line does not stop the lines sent after it.
  client.Send(Line("s x=1/0"));
  client.Send(Line("s x=2"));
  EXPECT_NE(client.Collect().error, 0);
  EXPECT_EQ(client.Collect().error, 0);
  EXPECT_EQ(Call(client, "$g(x)").value, "2");
}

TEST(Pipelining, KeptParametersAreWhatTheLineBeforeLeft) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client client = server.Connect();
  mlink::Request first = Line("s P1=P1_1,P2=P2_2", false);
  first.p1 = "a";
  first.p2 = "b";
  client.Send(first);
  client.Send(Line("s x=P1_P2"));
  EXPECT_EQ(client.Collect().p1, "a1");
  const mlink::Answer second = client.Collect();
  EXPECT_EQ(second.p1, "a1");
  EXPECT_EQ(second.p2, "b2");
  EXPECT_EQ(Call(client, "$g(x)").value, "a1b2");

  // A parameter the line killed comes back as "": defined and empty, as a
  // client that sent the answer's value back would have it.
  client.Send(Line("k P1 s P2(1)=5 k P2"));
  client.Send(Line("s y=$d(P1)_\"/\"_P1_\"/\"_$d(P2)"));
  EXPECT_EQ(client.Collect().p1, "");
  EXPECT_EQ(client.Collect().error, 0);
  EXPECT_EQ(Call(client, "$g(y)").value, "1//1");

  // A parameter that is sent replaces what the process had.
  mlink::Request sent = Line("s z=P1_P2");
  sent.keepP1 = false;
  sent.p1 = "new";
  client.Send(sent);
  client.Collect();
  EXPECT_EQ(Call(client, "$g(z)").value, "new");
}

// Every answer carries P2 back, so answers pile up far beyond what the
// sockets hold while the client is still sending: it must take them in as
// it sends, or both sides wait for the other to read.
TEST(Pipelining, LargeRequestsSentAheadDoNotDeadlock) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client client = server.Connect(std::chrono::seconds(60));
  constexpr int kLines = 12;
  for (int i = 0; i < kLines; ++i) {
    mlink::Request r = Line("s n=$g(n)+$l(P2)", false);
    r.p2 = std::string(2 * 1024 * 1024, static_cast<char>('a' + i));
    client.Send(r);
  }
  for (int i = 0; i < kLines; ++i) {
    const mlink::Answer a = client.Collect();
    ASSERT_EQ(a.error, 0) << a.errorName;
    ASSERT_EQ(a.p2, std::string(2 * 1024 * 1024, static_cast<char>('a' + i)));
  }
  EXPECT_EQ(Call(client, "$g(n)").value, std::to_string(kLines * 2 * 1024 * 1024));
}

// On the wire an answer leaves out a parameter the call did not change, so a
// long chunk crosses the connection once; the client fills it back in.
TEST(Pipelining, AnAnswerLeavesOutWhatTheCallDidNotChange) {
  TempDir data;
  ServerProcess server(data.path());
  const auto deadline = mlink::DeadlineAfter(std::chrono::seconds(30));
  mlink::Socket socket = mlink::ConnectTcp(server.endpoint(), std::chrono::seconds(5));
  mlink::FrameReader reader(mlink::kDefaultMaxFrame);
  mlink::WriteAll(socket, mlink::EncodeFrame(mlink::Hello{mlink::kProtocolVersion, "raw"}), deadline);
  ASSERT_TRUE(reader.Next(socket, deadline).has_value());
  auto exchange = [&](const mlink::Request& request) {
    mlink::WriteAll(socket, mlink::EncodeFrame(request), deadline);
    const auto body = reader.Next(socket, deadline);
    if (!body) throw std::runtime_error("the server closed the connection");
    return std::pair(body->size(), std::get<mlink::Answer>(mlink::DecodeBody(*body)));
  };
  const std::string chunk(1 << 20, 'c');
  mlink::Request sent = Line("s x=$l(P2)", false);
  sent.p1 = "name";
  sent.p2 = chunk;
  auto [size, answer] = exchange(sent);
  EXPECT_LT(size, 100u);
  EXPECT_TRUE(answer.p1Unchanged && answer.p2Unchanged);
  // Kept and left alone: still nothing; changed: the new value.
  std::tie(size, answer) = exchange(Line("s y=1"));
  EXPECT_LT(size, 100u);
  EXPECT_TRUE(answer.p1Unchanged && answer.p2Unchanged);
  std::tie(size, answer) = exchange(Line("s P2=P2_\"d\",P1=P1"));
  EXPECT_TRUE(answer.p1Unchanged);
  EXPECT_FALSE(answer.p2Unchanged);
  EXPECT_EQ(answer.p2, chunk + "d");
  std::tie(size, answer) = exchange(Line("s w=1"));
  EXPECT_LT(size, 100u);
  EXPECT_TRUE(answer.p2Unchanged);
  // Killed: "" is what the next call sees, and is reported as a change.
  std::tie(size, answer) = exchange(Line("k P1"));
  EXPECT_FALSE(answer.p1Unchanged);
  EXPECT_EQ(answer.p1, "");

  // The client fills in what was left out, from what it sent or what the
  // process held.
  mlink::Client client = server.Connect();
  client.Send(sent);
  client.Send(Line("s P1=P1_1"));
  client.Send(Line("s z=1"));
  for (const char* p1 : {"name", "name1", "name1"}) {
    const mlink::Answer a = client.Collect();
    EXPECT_EQ(a.p1, p1);
    EXPECT_EQ(a.p2, chunk);
    EXPECT_FALSE(a.p1Unchanged || a.p2Unchanged);
  }
}

}  // namespace
}  // namespace mserver_test
