// Many connections at once, bad input on one connection, limits, and the
// command line's call, run and stop.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "routine_upload.h"
#include "server_fixture.h"

namespace mserver_test {
namespace {

using namespace std::chrono_literals;

TEST(Connections, HundredClientsAtOnceKeepTheirOwnProcesses) {
  TempDir data;
  ServerProcess server(data.path());
  constexpr int kClients = 100;
  constexpr int kCalls = 20;
  std::vector<std::thread> threads;
  std::vector<std::string> jobs(kClients);
  std::atomic<int> failures{0};
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      try {
        mlink::Client c = server.Connect();
        if (Call(c, "s mine=P1", "USER", std::to_string(t)).error) ++failures;
        for (int i = 0; i < kCalls; ++i) {
          if (Call(c, "$i(^CNT)").error) ++failures;
          if (Call(c, "$g(mine)").value != std::to_string(t)) ++failures;
        }
        jobs[t] = Call(c, "$J").value;
      } catch (const std::exception&) {
        ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(std::set<std::string>(jobs.begin(), jobs.end()).size(), static_cast<std::size_t>(kClients));
  mlink::Client c = server.Connect();
  EXPECT_EQ(Call(c, "$g(^CNT)").value, std::to_string(kClients * kCalls));
}

// A raw connection for sending bytes that no well-behaved client would.
int RawConnect(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return fd;
}

// Sends bytes and answers whether the server closed the connection.
bool ClosedAfter(std::uint16_t port, const std::string& bytes) {
  int fd = RawConnect(port);
  ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  timeval tv{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char buf[4096];
  bool closed = false;
  for (int i = 0; i < 10; ++i) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) {
      closed = true;
      break;
    }
    if (n < 0) break;  // time-out: still open
  }
  ::close(fd);
  return closed;
}

TEST(Connections, MalformedInputClosesOnlyThatConnection) {
  TempDir data;
  ServerProcess server(data.path(), {"--max-frame", "65536"});
  mlink::Client good = server.Connect();
  ASSERT_EQ(Call(good, "s x=1").error, 0);
  const std::string hello = mlink::EncodeFrame(mlink::Hello{mlink::kProtocolVersion, "raw"});

  EXPECT_TRUE(ClosedAfter(server.port(), "GET / HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(ClosedAfter(server.port(), mlink::EncodeFrame(mlink::Request{"USER", "", "", "s x=1"})));
  EXPECT_TRUE(ClosedAfter(server.port(), mlink::EncodeFrame(mlink::Hello{9, "future"})));
  EXPECT_TRUE(ClosedAfter(server.port(), hello + std::string("\0\0\0\x03\x03\0\0", 7)));
  EXPECT_TRUE(ClosedAfter(server.port(), hello + std::string("\0\x10\0\0", 4)));  // 1 MiB > limit
  EXPECT_TRUE(ClosedAfter(server.port(), hello + std::string("\0\0\0\0", 4)));
  EXPECT_TRUE(ClosedAfter(server.port(), hello + mlink::EncodeFrame(mlink::Fault{"?"})));

  // The well-behaved connection and its process are untouched.
  EXPECT_EQ(Call(good, "$g(x)").value, "1");
  const std::string log = server.log();
  EXPECT_NE(log.find("bad input: frame of 1048576 bytes exceeds the limit of 65536"), std::string::npos) << log;
  EXPECT_NE(log.find("unsupported protocol version 9"), std::string::npos);
  EXPECT_NE(log.find("truncated message"), std::string::npos);

  // A request above the limit is refused by the client before sending.
  EXPECT_THROW(Call(good, std::string(70000, 's')), mlink::LinkError);
}

TEST(Connections, LimitsOnConnectionsAndIdleTime) {
  TempDir data;
  ServerProcess server(data.path(), {"--max-connections", "2", "--idle-timeout", "1"});
  mlink::Client a = server.Connect();
  mlink::Client b = server.Connect();
  try {
    mlink::Client c = server.Connect();
    ADD_FAILURE() << "a third connection was served";
  } catch (const mlink::LinkError& e) {
    EXPECT_NE(std::string(e.what()).find("too many connections"), std::string::npos) << e.what();
  }
  std::this_thread::sleep_for(1500ms);
  EXPECT_THROW(Call(a, "s x=1"), mlink::LinkError);
  mlink::Client d = server.Connect();
  EXPECT_EQ(Call(d, "$J").error, 0);
}

TEST(CommandLine, CallRunHelpAndCleanStop) {
  TempDir data;
  std::string out, err;
  for (const char* command : {"serve", "call", "run"}) {
    EXPECT_EQ(RunBinary({command, "--help"}, &out, &err), 0);
    EXPECT_NE(out.find(std::string("mserver ") + command), std::string::npos) << out;
  }
  EXPECT_EQ(RunBinary({"serve"}, &out, &err), 2);
  EXPECT_NE(err.find("--data"), std::string::npos);

  // run: locals last from line to line, WRITE goes to stdout, errors exit 1.
  EXPECT_EQ(RunBinary({"run", "--data", data.path().string(), "--namespace", "USER", "s x=2", "s ^R=x*21 w ^R,!"}, &out,
                      &err),
            0)
      << err;
  EXPECT_EQ(out, "42\r\n");  // WRITE ! is CR LF, as on a terminal
  EXPECT_EQ(RunBinary({"run", "--data", data.path().string(), "--namespace", "USER", "w 1 w y"}, &out, &err), 1);
  EXPECT_EQ(out, "1");
  EXPECT_NE(err.find("<UNDEFINED>"), std::string::npos) << err;

  ServerProcess server(data.path());
  const std::string where = "127.0.0.1:" + std::to_string(server.port());
  // The folder is the server's alone while it runs.
  EXPECT_EQ(RunBinary({"run", "--data", data.path().string(), "w 1"}, &out, &err), 1);
  EXPECT_NE(err.find("in use by another mserver process"), std::string::npos) << err;
  // call: the value's bytes unchanged, no newline added.
  EXPECT_EQ(
      RunBinary({"call", "--connect", where, "--namespace", "USER", "--p1", "\x8f\xe0", "$c(0,255)_P1_^R"}, &out, &err),
      0)
      << err;
  EXPECT_EQ(out, std::string("\0\xff\x8f\xe0"
                             "42",
                             6));
  EXPECT_EQ(RunBinary({"call", "--connect", where, "--namespace", "USER", "$x+nope"}, &out, &err), 1);
  EXPECT_NE(err.find("<UNDEFINED>"), std::string::npos);
  EXPECT_EQ(RunBinary({"call", "--connect", "127.0.0.1:1", "$J"}, &out, &err), 1);
  EXPECT_NE(err.find("refused"), std::string::npos) << err;

  // SIGTERM with a connection mid-wait and a job looping: a clean stop.
  mlink::Client c = server.Connect();
  ASSERT_EQ(UploadRoutine(c, "USER", {"LOOP", "LOOP ;", "run f  h 1"}, true), "");
  EXPECT_EQ(Call(c, "j run^LOOP::5 s P1=$T").p1, "1");
  mlink::Client waiting = server.Connect();
  ASSERT_EQ(Call(c, "l +^STOP").error, 0);
  std::thread blocked([&] {
    try {
      Call(waiting, "l +^STOP");
    } catch (const mlink::LinkError&) {
      // The stop closes this connection.
    }
  });
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(server.Terminate(), 0);
  blocked.join();
  EXPECT_NE(server.log().find("stopped"), std::string::npos);
}

}  // namespace
}  // namespace mserver_test
