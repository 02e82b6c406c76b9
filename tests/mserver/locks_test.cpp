// One lock table for all server processes: conflicts, incremental counts,
// time-outs with $TEST, all-or-none lists, and release when a process ends
// or its client disconnects.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "server_fixture.h"

namespace mserver_test {
namespace {

using namespace std::chrono_literals;

std::string Try(mlink::Client& c, const std::string& lock) {
  auto a = Call(c, "l " + lock + ":0 s P1=$T");
  EXPECT_EQ(a.error, 0) << a.errorName;
  return a.p1;
}

TEST(Locks, ConflictsCountsTimeoutsAndLists) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client a = server.Connect();
  mlink::Client b = server.Connect();

  EXPECT_EQ(Try(a, "+^X(1)"), "1");
  EXPECT_EQ(Try(b, "+^X"), "0");       // an ancestor of a held node
  EXPECT_EQ(Try(b, "+^X(1,2)"), "0");  // a descendant
  EXPECT_EQ(Try(b, "+^X(2)"), "1");    // a sibling is free
  EXPECT_EQ(Try(b, "+^X(1)"), "0");
  // Same name in lower case namespace spelling is the same resource.
  EXPECT_EQ(Call(b, "l +^X(1):0 s P1=$T", "user").p1, "0");

  // Incremental: two + need two -.
  EXPECT_EQ(Try(a, "+^Y"), "1");
  EXPECT_EQ(Try(a, "+^Y"), "1");
  ASSERT_EQ(Call(a, "l -^Y").error, 0);
  EXPECT_EQ(Try(b, "+^Y"), "0");
  ASSERT_EQ(Call(a, "l -^Y").error, 0);
  EXPECT_EQ(Try(b, "+^Y"), "1");

  // All or none: ^Y is b's, so a gets neither ^Z nor ^Y.
  EXPECT_EQ(Try(a, "+(^Z,^Y)"), "0");
  EXPECT_EQ(Try(b, "+^Z"), "1");

  // A time-out waits about that long.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Call(a, "l +^Z:1 s P1=$T").p1, "0");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);

  // A % global lives in %SYS: locked from two namespaces it is one resource.
  EXPECT_EQ(Call(a, "l +^%G:0 s P1=$T", "SAMPLES").p1, "1");
  EXPECT_EQ(Call(b, "l +^%G:0 s P1=$T", "USER").p1, "0");
  // Ordinary globals of different namespaces do not meet.
  EXPECT_EQ(Call(a, "l +^Z:0 s P1=$T", "SAMPLES").p1, "1");
}

TEST(Locks, ReleasedAtProcessEndAndAtDisconnect) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client holder = server.Connect();
  mlink::Client waiter = server.Connect();
  ASSERT_EQ(Call(holder, "l +^A,+^B").error, 0);

  // A waiter without time-out is served once the holder disconnects.
  auto waited = std::async(std::launch::async, [&] { return Call(waiter, "l +^A s P1=$T"); });
  EXPECT_EQ(waited.wait_for(300ms), std::future_status::timeout);
  holder.Close();
  ASSERT_EQ(waited.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(waited.get().error, 0);
  EXPECT_EQ(Try(waiter, "+^B"), "1");

  // HALT ends the process: its locks go with it and the connection closes.
  mlink::Client halting = server.Connect();
  ASSERT_EQ(Call(halting, "l +^H").error, 0);
  try {
    Call(halting, "h");
  } catch (const mlink::LinkError&) {
    // The server may close before or after answering.
  }
  mlink::Client third = server.Connect();
  std::string got = "0";
  for (int i = 0; i < 50 && got == "0"; ++i) {
    got = Try(third, "+^H");
    if (got == "0") std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(got, "1");

  // A client that gives up while its line waits for a lock: the line is
  // stopped, so the process ends and takes nothing later.
  mlink::Client owner = server.Connect();
  ASSERT_EQ(Call(owner, "l +^W").error, 0);
  {
    mlink::Client impatient = server.Connect(500ms);
    EXPECT_THROW(Call(impatient, "l +^W,+^V"), mlink::LinkError);
  }
  std::this_thread::sleep_for(1s);
  ASSERT_EQ(Call(owner, "l -^W").error, 0);
  mlink::Client last = server.Connect();
  EXPECT_EQ(Try(last, "+^W"), "1");
  EXPECT_EQ(Try(last, "+^V"), "1");
  EXPECT_NE(server.log().find("client gone while a line runs"), std::string::npos);
}

}  // namespace
}  // namespace mserver_test
