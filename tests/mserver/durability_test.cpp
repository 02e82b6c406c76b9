// Every acknowledged line's updates survive a server killed with SIGKILL.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "routine_upload.h"
#include "server_fixture.h"

namespace mserver_test {
namespace {

using namespace std::chrono_literals;

// Runs with updates flushed after each line and with the once-a-second flush:
// a killed process loses nothing in either, since every committed update is
// already in the file.
class Durability : public ::testing::TestWithParam<bool> {};

TEST_P(Durability, AcknowledgedUpdatesSurviveKill9) {
  TempDir data;
  const std::vector<std::string> flush =
      GetParam() ? std::vector<std::string>{"--flush-each-line"} : std::vector<std::string>{};
  std::atomic<long> acknowledged{0};
  {
    ServerProcess server(data.path(), flush);
    mlink::Client setup = server.Connect();
    ASSERT_EQ(UploadRoutine(setup, "USER", {"DUR", "DUR ;", "v() q 7"}, false), "");
    ASSERT_EQ(Call(setup, "k ^D s ^D(1)=\"a\" f i=1:1:2000 s ^D(2,i)=i").error, 0);

    // A writer keeps going while the server is killed under it.
    std::thread writer([&] {
      mlink::Client c = server.Connect();
      try {
        for (long i = 1;; ++i) {
          auto a = Call(c, "s ^C(P1)=P1,^C=P1", "USER", std::to_string(i));
          if (a.error) break;
          acknowledged = i;
        }
      } catch (const mlink::LinkError&) {
        // The kill ends the loop.
      }
    });
    while (acknowledged < 200) std::this_thread::sleep_for(5ms);
    server.Kill();
    writer.join();
  }
  ServerProcess server(data.path());
  mlink::Client c = server.Connect();
  EXPECT_EQ(Call(c, "$$v^DUR").value, "7");
  EXPECT_EQ(Call(c, "$g(^D(1))_\"/\"_$o(^D(2,\"\"),-1)").value, "a/2000");
  const long last = std::stol(Call(c, "$g(^C)").value);
  EXPECT_GE(last, acknowledged.load());
  EXPECT_EQ(Call(c, "$d(^C(" + std::to_string(acknowledged.load()) + "))").value, "1");
}

INSTANTIATE_TEST_SUITE_P(FlushModes, Durability, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "EachLine" : "EverySecond"; });

}  // namespace
}  // namespace mserver_test
