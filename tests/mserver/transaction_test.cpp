// Transactions on the real server: updates are seen by others at once, and
// a transaction left open is rolled back when its process ends (a closed
// connection, the end of `mserver run`) or, when the server was killed, when
// it starts again. Also READ from standard input in `mserver run`.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "server_fixture.h"

namespace mserver_test {
namespace {

using namespace std::chrono_literals;

TEST(Transactions, KilledServerRollsBackWhenItStartsAgain) {
  TempDir data;
  {
    ServerProcess server(data.path());
    mlink::Client a = server.Connect();
    ASSERT_EQ(Call(a, "k ^T s ^T(1)=\"keep\",^T(2,1)=\"sub\",^T(4)=0").error, 0);
    ASSERT_EQ(Call(a, "ts  s ^T(4)=4 tc").error, 0);  // committed: stays
    ASSERT_EQ(Call(a, "ts  s ^T(1)=\"new\" k ^T(2) s ^T(3)=3,x=$i(^T(4))").error, 0);
    EXPECT_EQ(Call(a, "$tl").value, "1");
    mlink::Client b = server.Connect();
    EXPECT_EQ(Call(b, "$g(^T(1))_$d(^T(2))_^T(3)_^T(4)").value, "new035");  // seen at once
    server.Kill();
  }
  ServerProcess server(data.path());
  mlink::Client c = server.Connect();
  EXPECT_EQ(Call(c, "$g(^T(1))_^T(2,1)_$d(^T(3))_^T(4)").value, "keepsub04");
  EXPECT_NE(server.log().find("rolled back the open transaction"), std::string::npos) << server.log();
  // Nothing is rolled back twice.
  ASSERT_EQ(Call(c, "s ^T(1)=\"later\"").error, 0);
  server.Kill();
  ServerProcess again(data.path());
  mlink::Client d = again.Connect();
  EXPECT_EQ(Call(d, "$g(^T(1))").value, "later");
}

TEST(Transactions, ClosedConnectionRollsBack) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client b = server.Connect();
  ASSERT_EQ(Call(b, "k ^T s ^T(5)=\"old\"").error, 0);
  {
    mlink::Client a = server.Connect();
    ASSERT_EQ(Call(a, "ts  s ^T(5)=\"new\",^T(6)=6").error, 0);
    EXPECT_EQ(Call(b, "$g(^T(5))").value, "new");
    a.Close();
  }
  std::string seen;
  for (int i = 0; i < 500 && seen != "old0"; ++i) {
    seen = Call(b, "$g(^T(5))_$d(^T(6))").value;
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(seen, "old0");
}

// Runs `mserver run` with `input` on its standard input; answers its output.
std::string RunWithInput(const std::string& input, const std::string& data, const std::string& line) {
  const std::string command = "printf '" + input + "' | '" + ServerBinary() + "' run --data '" + data +
                              "' --namespace USER '" + line + "' 2>&1";
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return "popen failed";
  char buf[256];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  ::pclose(pipe);
  return out;
}

TEST(Transactions, RunEndsWithItsTransactionRolledBackAndReadsStandardInput) {
  TempDir data;
  const std::string dir = data.path().string();
  EXPECT_EQ(RunWithInput("", dir, "k ^T ts  s ^T(7)=7 w $tl"), "1");
  EXPECT_EQ(RunWithInput("", dir, "w $d(^T(7))"), "0");
  EXPECT_EQ(RunWithInput("first\\r\\nsecond\\n", dir, "r x,y#3 w \"<\",x,\"|\",y,\">\""), "<first|sec>");
  EXPECT_EQ(RunWithInput("", dir, "r x"), "<ENDOFFILE>\n");
}

TEST(Transactions, ReadTimesOutOnStandardInput) {
  TempDir data;
  const std::string command = "(sleep 2; echo late) | '" + ServerBinary() + "' run --data '" + data.path().string() +
                              "' --namespace USER 'r x:0.2 w $t,\"[\",x,\"]\"'";
  std::string out;
  const auto start = std::chrono::steady_clock::now();
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buf[256];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  ::pclose(pipe);
  EXPECT_EQ(out, "0[]");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

}  // namespace
}  // namespace mserver_test
