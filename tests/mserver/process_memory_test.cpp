// The memory account of a process: charges, returns from other threads, the
// <STORE> signal and refusal far over the limit. Also what a frame announced
// but not sent costs.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mlink/errors.h"
#include "mlink/socket_io.h"
#include "mserver/process_memory.h"

namespace {

using namespace std::chrono_literals;
using mserver::ProcessMemory;

constexpr std::size_t kMiB = std::size_t{1} << 20;

TEST(ProcessMemory, ChargesItsThreadAndTakesBackFromAnyThread) {
  ProcessMemory memory(0);
  EXPECT_EQ(memory.ExceededSignal(), nullptr);  // no limit: nothing to signal
  const std::size_t before = memory.InUse();
  auto outside = std::make_unique<std::string>(kMiB, 'o');  // not charged
  std::unique_ptr<std::string> inside;
  {
    ProcessMemory::Scope scope(memory);
    inside = std::make_unique<std::string>(kMiB, 'i');
  }
  EXPECT_GE(memory.InUse(), before + kMiB);
  EXPECT_LT(memory.InUse(), before + kMiB + 4096);
  std::thread([&] { inside.reset(); }).join();
  EXPECT_EQ(memory.InUse(), before);
}

TEST(ProcessMemory, OverTheLimitSignalsThenRefuses) {
  ProcessMemory memory(16 * kMiB);
  std::atomic<bool>* signal = memory.ExceededSignal();
  ASSERT_NE(signal, nullptr);
  std::vector<std::string> held;
  ProcessMemory::Scope scope(memory);
  for (int i = 0; i < 15; ++i) held.emplace_back(kMiB, 'x');
  EXPECT_FALSE(signal->load());
  held.emplace_back(2 * kMiB, 'x');  // over 16 MiB
  EXPECT_TRUE(signal->exchange(false));
  held.emplace_back(kMiB, 'x');  // the next signal is a step further on
  EXPECT_FALSE(signal->load());
  // Half as much again above the limit, an allocation is refused...
  EXPECT_THROW(held.emplace_back(20 * kMiB, 'x'), std::bad_alloc);
  // ...with a reserve left for reporting the error.
  EXPECT_NO_THROW(held.emplace_back(kMiB, 'x'));
  // Below the limit again, the first levels are back.
  held.clear();
  held.shrink_to_fit();
  signal->store(false);
  held.emplace_back(17 * kMiB, 'x');
  EXPECT_TRUE(signal->load());
}

// Processes each within their own limit, together over the server's: the
// process that asks is signalled, a step further on again, and far over the
// server's limit refused; the others keep what they hold, and what one gives
// back lets the others go on.
TEST(ServerMemory, TheProcessThatAsksBeyondTheServersLimitIsTold) {
  mserver::ServerMemory server(32 * kMiB);
  ProcessMemory first(64 * kMiB, &server);
  ProcessMemory second(64 * kMiB, &server);
  ASSERT_NE(second.ExceededSignal(), nullptr);
  std::vector<std::string> a, b;
  {
    ProcessMemory::Scope scope(first);
    for (int i = 0; i < 20; ++i) a.emplace_back(kMiB, 'a');
  }
  EXPECT_GE(server.InUse(), 20 * kMiB);
  ProcessMemory::Scope scope(second);
  for (int i = 0; i < 10; ++i) b.emplace_back(kMiB, 'b');
  EXPECT_FALSE(second.ExceededSignal()->load());
  b.emplace_back(3 * kMiB, 'b');  // together over 32 MiB
  EXPECT_TRUE(second.ExceededSignal()->exchange(false));
  EXPECT_FALSE(first.ExceededSignal()->load());  // the one that did not ask
  b.emplace_back(kMiB, 'b');
  EXPECT_FALSE(second.ExceededSignal()->load());
  b.emplace_back(8 * kMiB, 'b');  // a further step (an eighth of 64 MiB)
  EXPECT_TRUE(second.ExceededSignal()->exchange(false));
  // Beyond the margin (16 MiB over 32) a request is refused, though the
  // process is far below its own limit; a reserve is left for the error.
  EXPECT_THROW(b.emplace_back(10 * kMiB, 'b'), std::bad_alloc);
  EXPECT_NO_THROW(b.emplace_back(kMiB, 'b'));
  // The first gives back what it took: the second may grow again.
  a.clear();
  a.shrink_to_fit();
  b.clear();
  b.shrink_to_fit();
  second.ExceededSignal()->store(false);
  b.emplace_back(20 * kMiB, 'b');
  EXPECT_FALSE(second.ExceededSignal()->load());
  EXPECT_LT(server.InUse(), 22 * kMiB);
}

TEST(ServerMemory, OutlivesItsOwnerWhileAProcessHoldsMemory) {
  auto server = std::make_unique<mserver::ServerMemory>(16 * kMiB);
  auto memory = std::make_unique<ProcessMemory>(0, server.get());
  std::unique_ptr<std::string> kept;
  {
    ProcessMemory::Scope scope(*memory);
    kept = std::make_unique<std::string>(kMiB, 'k');
  }
  memory.reset();
  server.reset();
  kept.reset();  // charged to both accounts, freed after both owners
}

// A peer that announces a 16 MiB frame and sends ten bytes of it costs the
// reader a read's worth, not 16 MiB; the wait ends as a time-out.
TEST(ProcessMemory, AFrameCostsWhatArrivedNotWhatWasAnnounced) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  mlink::Socket reading(fds[0]);
  mlink::Socket writing(fds[1]);
  mlink::WriteAll(writing, std::string("\x01\0\0\0", 4) + std::string(10, 'x'), std::nullopt);

  ProcessMemory memory(0);
  std::atomic<bool> timedOut{false};
  std::thread reader([&] {
    ProcessMemory::Scope scope(memory);
    mlink::FrameReader frames(mlink::kDefaultMaxFrame);
    try {
      frames.Next(reading, mlink::DeadlineAfter(600ms));
    } catch (const mlink::TimeoutError&) {
      timedOut = true;
    }
  });
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(memory.InUse(), kMiB);
  reader.join();
  EXPECT_TRUE(timedOut.load());
}

}  // namespace
