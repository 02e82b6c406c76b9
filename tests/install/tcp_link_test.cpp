// The TCP link sends command lines without waiting for their answers. What a
// caller reads must be what it would read had every line been answered
// before the call returned: the same script runs on the TCP link against
// mserver and on the in-process link, which answers every line at once.
#include <gtest/gtest.h>

#include "distribution/funcs.h"
#include "inprocess_link.h"
#include "mengine/memory_host.h"
#include "mserver_process.h"
#include "port_forward.h"
#include "link/tcp_link.h"

namespace dorvik::testing {
namespace {

std::string ServerOf(const MServerProcess& server) {
  return BuildServerString("127.0.0.1", std::to_string(server.Port()));
}

std::string Error(ServerLink& link) {
  return link.ErrorCode() == 0 ? "ok" : link.ErrorText().substr(0, link.ErrorText().find('>') + 1);
}

std::vector<std::string> Observe(ServerLink& link) {
  std::vector<std::string> seen;
  link.SetNamespace("USER");
  // A line that changes the parameters, and one after it that uses them,
  // with nothing read in between.
  link.SetParam(1, "a");
  link.SetParam(2, "b");
  link.RunCode("s P1=P1_1,P2=P2_2");
  link.RunCode("s x=P1_P2");
  seen.push_back(link.Evaluate("$g(x)"));
  seen.push_back(link.GetParam(1) + "," + link.GetParam(2));
  // A parameter a line killed is "" for the next line.
  link.RunCode("k P1");
  link.RunCode("s y=$d(P1)_\"/\"_P1");
  seen.push_back(link.Evaluate("$g(y)"));
  // What the caller writes after a line was sent wins over that line's answer.
  link.RunCode("s P2=\"server\"");
  link.SetParam(2, "caller");
  seen.push_back(link.GetParam(2));
  link.RunCode("s z=P2");
  seen.push_back(link.Evaluate("$g(z)"));
  link.SetValue("mine");
  link.RunCode("s v=1");
  seen.push_back(link.GetValue());
  link.RunCode("$l(\"ab\")");
  link.RunCode("s v=2");
  seen.push_back(link.GetValue());
  // The error is the last execution's, and a cleared one stays cleared.
  link.RunCode("s e=1/0");
  seen.push_back(Error(link));
  link.RunCode("s e=1/0");
  link.ClearError();
  seen.push_back(Error(link));
  link.RunCode("s e=1/0");
  link.RunCode("s e=1");
  seen.push_back(Error(link));
  link.RunCode("s e=1");
  link.RunCode("s e=1/0");
  link.RunCode("s P1=\"after\"");
  seen.push_back(Error(link) + " " + link.GetParam(1));
  // More lines in a row than the link leaves unanswered.
  for (int i = 1; i <= 40; ++i) link.RunCode("s n=$g(n)+" + std::to_string(i));
  seen.push_back(link.Evaluate("$g(n)"));
  return seen;
}

TEST(TcpLink, ReadsWhatAnAnswerForEveryLineWouldGive) {
  MServerProcess server(MSERVER_BINARY, {}, {}, false);
  TcpLink tcp;
  tcp.SetServer(ServerOf(server));
  mengine::MemoryHost host;
  InProcessLink inProcess(host);
  const std::vector<std::string> expected = {"a1b2", "a1,b2",    "1/", "caller", "caller",   "mine",
                                             "2",    "<DIVIDE>", "ok", "ok",     "ok after", "820"};
  EXPECT_EQ(Observe(inProcess), expected);
  EXPECT_EQ(Observe(tcp), expected);
}

// Closing the connection stops a line still running on the server, so the
// link waits for its last lines before it goes.
TEST(TcpLink, TheLastLinesRunToTheirEndBeforeTheLinkCloses) {
  MServerProcess server(MSERVER_BINARY, {}, {}, false);
  {
    TcpLink link;
    link.SetServer(ServerOf(server));
    link.SetNamespace("USER");
    link.RunCode("k ^done");
    link.RunCode("h 1 s ^done=1");
  }
  TcpLink probe;
  probe.SetServer(ServerOf(server));
  probe.SetNamespace("USER");
  EXPECT_EQ(probe.Evaluate("$g(^done)"), "1");
}

TEST(TcpLink, AServerLostWhileAnswersAreAwaitedIsReportedByTheNextRead) {
  MServerProcess server(MSERVER_BINARY, {}, {}, false);
  TcpLink link;
  link.SetServer(ServerOf(server));
  link.SetNamespace("USER");
  link.RunCode("s x=1");
  ASSERT_EQ(link.ErrorCode(), 0);
  link.RunCode("h 5");
  link.RunCode("s x=2");
  server.Kill();
  EXPECT_EQ(link.ErrorCode(), -1);
  EXPECT_EQ(link.ErrorText().rfind("<LINK> ", 0), 0u) << link.ErrorText();
  // The server process is gone with its variables: later lines fail too.
  link.RunCode("s x=3");
  EXPECT_EQ(link.ErrorCode(), -1);
  // Given the server again, the link connects anew.
  server.Restart();
  link.SetServer(ServerOf(server));
  EXPECT_EQ(link.Evaluate("$g(x)"), "");
  EXPECT_EQ(link.ErrorCode(), 0);
}

// The address the link reports as in use: the one it connected to (through
// a port forward, the forward's), unless the server announces another.
TEST(TcpLink, ReportsTheAddressItConnectedToUnlessTheServerAnnouncesOne) {
  MServerProcess plain(MSERVER_BINARY, {}, {}, false);
  PortForward forward(plain.Port());
  MServerProcess advertising(MSERVER_BINARY, {"--advertise", "10.1.2.3:56773"}, {}, false);
  struct Case {
    const char* what;
    int port;
    std::string reported;
  };
  const std::vector<Case> cases = {
      {"directly", plain.Port(), BuildServerString("127.0.0.1", std::to_string(plain.Port()))},
      {"through a port forward", forward.Port(), BuildServerString("127.0.0.1", std::to_string(forward.Port()))},
      {"to a server that announces an address", advertising.Port(), BuildServerString("10.1.2.3", "56773")},
  };
  for (const Case& c : cases) {
    TcpLink link;
    link.SetServer(BuildServerString("127.0.0.1", std::to_string(c.port)));
    link.SetNamespace("USER");
    EXPECT_EQ(link.Evaluate("$ZNSPACE"), "USER") << c.what;
    EXPECT_EQ(link.GetServer(), c.reported) << c.what;
  }
}

}  // namespace
}  // namespace dorvik::testing
