// What a hostile or runaway client cannot do to the server: make it allocate
// frames it was only promised, lock other clients out by holding every
// connection, take all memory with one line, fill the log from a job, or
// listen for other machines unasked.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include "routine_upload.h"
#include "server_fixture.h"

namespace mserver_test {
namespace {

using namespace std::chrono_literals;

int RawConnect(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return fd;
}

void SendAll(int fd, const std::string& bytes) {
  ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// Waits until the log holds `text`; answers the log.
std::string AwaitLog(const ServerProcess& server, const std::string& text) {
  std::string log;
  for (int i = 0; i < 500; ++i) {
    log = server.log();
    if (log.find(text) != std::string::npos) break;
    std::this_thread::sleep_for(20ms);
  }
  return log;
}

TEST(HostileClient, AnnouncedFramesCostOnlyWhatArrives) {
  TempDir data;
  ServerProcess server(data.path());
  const std::string hello = mlink::EncodeFrame(mlink::Hello{mlink::kProtocolVersion, "raw"});
  const std::size_t before = ProcessStatusKiB(server.pid(), "VmRSS");
  // Each connection announces a frame of 16 MiB and sends one byte of it.
  std::vector<int> fds;
  for (int i = 0; i < 24; ++i) {
    int fd = RawConnect(server.port());
    SendAll(fd, hello + std::string("\x01\0\0\0\x03", 5));
    fds.push_back(fd);
  }
  mlink::Client good = server.Connect();
  EXPECT_EQ(Call(good, "$J").error, 0);  // every frame above has been started
  std::this_thread::sleep_for(200ms);
  const std::size_t grown = ProcessStatusKiB(server.pid(), "VmRSS") - before;
  EXPECT_LT(grown, 32u * 1024) << "KiB grown";  // 24 x 16 MiB if allocated up front
  for (int fd : fds) ::close(fd);

  // Before its hello, a client may not even announce a large frame.
  int fd = RawConnect(server.port());
  SendAll(fd, std::string("\0\x01\0\0", 4));
  const std::string log = AwaitLog(server, "exceeds the limit of 4096");
  EXPECT_NE(log.find("frame of 65536 bytes exceeds the limit of 4096 bytes"), std::string::npos) << log;
  ::close(fd);
}

TEST(HostileClient, AFullConnectionTableMakesRoomFromTheLongestIdle) {
  TempDir data;
  ServerProcess server(data.path(), {"--max-connections", "3"});
  mlink::Client idle = server.Connect();
  mlink::Client locking = server.Connect();
  mlink::Client recent = server.Connect();
  ASSERT_EQ(Call(idle, "s x=1").error, 0);
  ASSERT_EQ(Call(locking, "l +^HELD").error, 0);
  std::this_thread::sleep_for(1200ms);
  ASSERT_EQ(Call(recent, "s x=3").error, 0);

  // The table is full: the connection idle longest without a lock goes.
  mlink::Client newcomer = server.Connect();
  EXPECT_EQ(Call(newcomer, "$J").error, 0);
  try {
    Call(idle, "$g(x)");
    ADD_FAILURE() << "the idle connection was kept";
  } catch (const mlink::LinkError& e) {
    EXPECT_NE(std::string(e.what()).find("make room"), std::string::npos) << e.what();
  }
  // Nobody else qualifies now: one holds a lock, the others were just busy.
  try {
    mlink::Client refused = server.Connect();
    ADD_FAILURE() << "a fourth connection was served";
  } catch (const mlink::LinkError& e) {
    EXPECT_NE(std::string(e.what()).find("too many connections"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Call(locking, "l +^HELD:0 s P1=$T").p1, "1");
  EXPECT_EQ(Call(recent, "$g(x)").value, "3");
  EXPECT_NE(server.log().find("closed: made room for a new connection"), std::string::npos);
}

// Connections that all hold locks and say nothing do not lock a new client
// out for good: once the one idle longest has been idle --lock-holder-idle,
// it is closed for the newcomer and its locks are freed; a holder that used
// its connection a moment ago is kept.
TEST(HostileClient, AFullTableOfLockHoldersStillServesANewClient) {
  TempDir data;
  // Margins of seconds either side of the idle limit: the test must hold on
  // a loaded machine. Three places, and 4 reserved for a table of holders.
  ServerProcess server(data.path(), {"--max-connections", "3", "--lock-holder-idle", "5"});
  std::vector<mlink::Client> holders;
  auto hold = [&](int n) {
    holders.push_back(server.Connect());
    ASSERT_EQ(Call(holders.back(), "l +^H(" + std::to_string(n) + ")").error, 0);
  };
  for (int i = 0; i < 3; ++i) {
    hold(i);
    std::this_thread::sleep_for(100ms);
  }
  // A normal client is served at once, from the reserve.
  mlink::Client first = server.Connect();
  EXPECT_EQ(Call(first, "$J").error, 0);
  EXPECT_EQ(Call(first, "l +^H(0):0 s P1=$T").p1, "0") << "the holders keep their locks";
  // It takes a lock too, and more holders take the rest of the reserve: the
  // next is refused while every holder was active lately.
  ASSERT_EQ(Call(first, "l +^F").error, 0);
  for (int i = 3; i < 6; ++i) hold(i);
  // Idle long enough for a connection without locks, not for a holder.
  std::this_thread::sleep_for(1200ms);
  try {
    mlink::Client refused = server.Connect();
    ADD_FAILURE() << "a holder idle for less than --lock-holder-idle was closed, or the reserve grew";
  } catch (const mlink::LinkError& e) {
    EXPECT_NE(std::string(e.what()).find("too many connections"), std::string::npos) << e.what();
  }
  for (std::size_t i = 1; i < holders.size(); ++i) ASSERT_EQ(Call(holders[i], "s x=1").error, 0);
  ASSERT_EQ(Call(first, "s x=1").error, 0);
  std::this_thread::sleep_for(4500ms);

  // Holder 0, idle longest and past the limit, is closed with its lock.
  mlink::Client newcomer = server.Connect();
  EXPECT_EQ(Call(newcomer, "$J").error, 0);
  EXPECT_THROW(Call(holders[0], "$J"), mlink::LinkError);
  EXPECT_EQ(Call(newcomer, "l +^H(0):1 s P1=$T").p1, "1");
  EXPECT_EQ(Call(newcomer, "l +^H(1):0 s P1=$T").p1, "0");
  EXPECT_EQ(Call(holders[1], "$g(x)").value, "1");
  const std::string log = server.log();
  EXPECT_NE(log.find("takes a reserved place"), std::string::npos) << log;
  EXPECT_NE(log.find("holding locks; closing it to make room for a new connection"), std::string::npos) << log;
}

TEST(HostileClient, AProcessOverItsMemoryLimitGetsStoreAndTheServerGoesOn) {
  TempDir data;
  ServerProcess server(data.path(), {"--max-process-memory", "67108864"});
  mlink::Client greedy = server.Connect();
  mlink::Client other = server.Connect();
  ASSERT_EQ(Call(other, "s mine=42").error, 0);

  auto a = Call(greedy, "f i=1:1:170 s big(i)=$j(\"\",3641144)");
  EXPECT_EQ(a.error, 1);
  EXPECT_EQ(a.errorName.rfind("<STORE>", 0), 0u) << a.errorName;
  const int kept = std::stoi(Call(greedy, "$o(big(\"\"),-1)").value);
  EXPECT_GE(kept, 17);  // 64 MiB of 3.5 MiB strings, give or take one
  EXPECT_LE(kept, 20);
  EXPECT_LT(ProcessStatusKiB(server.pid(), "VmHWM"), 200u * 1024);
  EXPECT_EQ(Call(other, "$g(mine)").value, "42");

  // Freeing the memory lets the process go on; $ZTRAP catches the error.
  ASSERT_EQ(Call(greedy, "k big").error, 0);
  ASSERT_EQ(UploadRoutine(greedy, "USER",
                          {"TRAP", "TRAP ;", "t s $zt=\"h\" f i=1:1:170 s big(i)=$j(\"\",3641144)", " q",
                           "h s P1=$p($ze,\">\")_\">\" q"},
                          true),
            "");
  auto trapped = Call(greedy, "d t^TRAP");
  EXPECT_EQ(trapped.error, 0) << trapped.errorName;
  EXPECT_EQ(trapped.p1, "<STORE>");
  ASSERT_EQ(Call(greedy, "k big").error, 0);
  EXPECT_EQ(Call(greedy, "s x=$j(\"\",3641144) s P1=$l(x)").p1, "3641144");

  // One command that takes too much at once (a MERGE of a large global) is
  // stopped at the allocation.
  ASSERT_EQ(Call(greedy, "k x f i=1:1:30 s ^G(i)=$j(i,3641144)").error, 0);
  a = Call(greedy, "m copy=^G");
  EXPECT_EQ(a.errorName.rfind("<STORE>", 0), 0u) << a.errorName;
  EXPECT_EQ(Call(greedy, "k copy s P1=$l(^G(30))").p1, "3641144");

  // A job is a process with the same limit.
  ASSERT_EQ(UploadRoutine(greedy, "USER", {"GREEDY", "GREEDY ;", "run f i=1:1:170 s big(i)=$j(\"\",3641144)"}, true),
            "");
  ASSERT_EQ(Call(greedy, "j run^GREEDY::5 s P1=$T").p1, "1");
  const std::string log = AwaitLog(server, "ended with error <STORE>");
  EXPECT_NE(log.find("ended with error <STORE>"), std::string::npos) << log;
  EXPECT_TRUE(server.running());
}

// Several processes, each within its own limit, cannot together take more
// than the server's: those that ask beyond it get <STORE>, keep what they
// have, and the server goes on serving.
TEST(HostileClient, ConnectionsGrowingTogetherMeetTheServersLimit) {
  TempDir data;
  ServerProcess server(data.path(), {"--max-process-memory", "67108864", "--max-server-memory", "100663296"});
  const std::size_t base = ProcessStatusKiB(server.pid(), "VmHWM");
  constexpr int kGrowing = 6;  // 12 strings of 3.5 MiB each: 252 MiB wanted
  std::vector<mlink::Client> clients;
  for (int i = 0; i < kGrowing; ++i) clients.push_back(server.Connect());
  std::vector<mlink::Answer> answers(kGrowing);
  std::vector<std::thread> growing;
  for (int i = 0; i < kGrowing; ++i) {
    growing.emplace_back([&, i] { answers[i] = Call(clients[i], "f i=1:1:12 s big(i)=$j(\"\",3641144)"); });
  }
  for (std::thread& t : growing) t.join();
  int stopped = 0;
  int kept = 0;
  for (int i = 0; i < kGrowing; ++i) {
    if (answers[i].error) {
      EXPECT_EQ(answers[i].errorName.rfind("<STORE>", 0), 0u) << answers[i].errorName;
      ++stopped;
    }
    kept += std::stoi("0" + Call(clients[i], "$o(big(\"\"),-1)").value);
  }
  EXPECT_GE(stopped, 3) << kept << " kept";
  EXPECT_LE(kept, 33) << stopped << " stopped";  // 96 MiB and the 16 MiB margin, in 3.5 MiB strings
  EXPECT_LT(ProcessStatusKiB(server.pid(), "VmHWM") - base, 160u * 1024);

  // A new client is served; once the others give back, it may grow.
  mlink::Client late = server.Connect();
  for (mlink::Client& c : clients) ASSERT_EQ(Call(c, "k big").error, 0);
  const mlink::Answer grown = Call(late, "f i=1:1:12 s big(i)=$j(\"\",3641144)");
  EXPECT_EQ(grown.error, 0) << grown.errorName;
  EXPECT_TRUE(server.running());
  EXPECT_NE(server.log().find("memory limits: 67108864 bytes per process, 100663296 bytes for all processes"),
            std::string::npos);
}

TEST(HostileClient, AJobsOutputToTheLogIsBounded) {
  TempDir data;
  ServerProcess server(data.path(), {"--max-job-output", "10000"});
  mlink::Client c = server.Connect();
  // 20,000 lines of 10 characters and CR LF: 240,000 bytes.
  ASSERT_EQ(UploadRoutine(c, "USER", {"CHATTY", "CHATTY ;", "run f i=1:1:20000 w \"0123456789\",!"}, true), "");
  ASSERT_EQ(Call(c, "j run^CHATTY::5 s P1=$T").p1, "1");
  const std::string log = AwaitLog(server, "bytes of output dropped");
  EXPECT_NE(log.find(": 230000 bytes of output dropped (limit 10000 bytes)"), std::string::npos) << log;
  EXPECT_NE(log.find("output beyond 10000 bytes is dropped"), std::string::npos);
  std::size_t lines = 0;
  for (std::size_t at = log.find(": 0123456789"); at != std::string::npos; at = log.find(": 0123456789", at + 1))
    ++lines;
  EXPECT_GE(lines, 830u);  // 10000 / 12
  EXPECT_LE(lines, 834u);
}

TEST(HostileClient, LongTimeOutsWaitAndNegativeOnesDoNot) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client holder = server.Connect();
  mlink::Client waiter = server.Connect();
  ASSERT_EQ(Call(holder, "l +^X").error, 0);

  // A negative time-out is 0.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Call(waiter, "l +^X:-5 s P1=$T").p1, "0");
  EXPECT_EQ(Call(waiter, "h -1 s P1=1").p1, "1");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

  // 1E10 seconds waits until the lock is free.
  std::atomic<bool> done{false};
  std::string gotIt;
  std::thread t([&] {
    gotIt = Call(waiter, "l +^X:1E10 s P1=$T").p1;
    done = true;
  });
  std::this_thread::sleep_for(700ms);
  EXPECT_FALSE(done.load());
  ASSERT_EQ(Call(holder, "l -^X").error, 0);
  t.join();
  EXPECT_EQ(gotIt, "1");

  // HANG 1E10 waits until the client goes away.
  mlink::Client sleeper = server.Connect(1000ms);
  start = std::chrono::steady_clock::now();
  EXPECT_THROW(Call(sleeper, "h 1E10"), mlink::LinkError);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
  const std::string log = AwaitLog(server, "client gone while a line runs");
  EXPECT_NE(log.find("client gone while a line runs"), std::string::npos) << log;
}

TEST(HostileClient, ListeningBeyondLoopbackMustBeAllowed) {
  TempDir data;
  std::string out, err;
  EXPECT_EQ(RunBinary({"serve", "--data", data.path().string(), "--listen", "0.0.0.0:0"}, &out, &err), 1);
  EXPECT_NE(err.find("--allow-remote"), std::string::npos) << err;
  EXPECT_NE(err.find("no authentication"), std::string::npos) << err;
  EXPECT_EQ(RunBinary({"serve", "--help"}, &out, &err), 0);
  EXPECT_NE(out.find("--allow-remote"), std::string::npos);
}

}  // namespace
}  // namespace mserver_test
