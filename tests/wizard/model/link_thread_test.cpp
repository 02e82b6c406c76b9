// The thread that owns the server link: the link is made, used and
// destroyed on that one thread, between the front end's own start and end
// of it; failures come back to the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "model_fixture.h"
#include "wizard_model/link_thread.h"

namespace dorvik::testing {
namespace {

// A link that does nothing; what matters is where it lives.
class NullLink : public ServerLink {
 public:
  void SetServer(const std::string&) override {}
  std::string GetServer() override { return ""; }
  void SetNamespace(const std::string&) override {}
  void SetParam(int, const std::string&) override {}
  std::string GetParam(int) override { return ""; }
  void RunCode(const std::string&) override {}
  std::string GetValue() override { return ""; }
  void SetValue(const std::string&) override {}
  void ClearError() override {}
  int ErrorCode() override { return 0; }
  std::string ErrorText() override { return ""; }
};

TEST(LinkThread, OneThreadFromEnterToLeave) {
  std::vector<std::string> events;  // touched on the link thread only, read after the join
  std::vector<std::thread::id> threads;
  LinkWatch watch;
  {
    LinkThreadHooks hooks;
    hooks.enter = [&] {
      events.push_back("enter");
      threads.push_back(std::this_thread::get_id());
    };
    hooks.leave = [&] {
      events.push_back("leave");
      threads.push_back(std::this_thread::get_id());
    };
    LinkThread link(
        [&] {
          events.push_back("create");
          threads.push_back(std::this_thread::get_id());
          return std::make_unique<WatchedLink>(std::make_unique<NullLink>(), watch);
        },
        hooks);
    EXPECT_FALSE(link.OnLinkThread());
    std::atomic<bool> finishedAfter{false};
    bool ran = false;
    auto done = link.Post(
        [&] {
          link.Link().RunCode("s x=1");
          ran = link.OnLinkThread();
        },
        [&] { finishedAfter = ran; });
    done.get();
    // The wake-up runs right after the call, on the same thread: wait for it.
    for (int i = 0; i < 500 && !finishedAfter; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(finishedAfter);
    // The link used from here would be a foreign call: counted.
    link.Link().ClearError();
    EXPECT_EQ(watch.foreignCalls, 1);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"enter", "create", "leave"}));
  ASSERT_EQ(threads.size(), 3u);
  EXPECT_EQ(threads[0], threads[1]);
  EXPECT_EQ(threads[1], threads[2]);
  EXPECT_NE(threads[0], std::this_thread::get_id());
  EXPECT_TRUE(watch.destroyedOnOwnThread);
  EXPECT_EQ(watch.calls, 2);
}

TEST(LinkThread, CallsRunInOrderAndFailuresComeBack) {
  LinkThread link([] { return std::make_unique<NullLink>(); });
  std::vector<int> order;
  std::vector<std::future<void>> done;
  for (int i = 0; i < 5; ++i) done.push_back(link.Post([&order, i] { order.push_back(i); }));
  auto failed = link.Post([] { throw std::runtime_error("no answer"); });
  for (auto& d : done) d.get();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  try {
    failed.get();
    ADD_FAILURE() << "the failure was lost";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "no answer");
  }
  // The thread goes on after a failed call.
  bool after = false;
  link.Post([&] { after = true; }).get();
  EXPECT_TRUE(after);
}

// A link that cannot be made (the control missing, COM refused) is the
// constructor's failure, and the thread is gone with it.
TEST(LinkThread, FailedStartIsThrown) {
  struct Case {
    const char* what;
    bool enterFails;
    bool factoryFails;
    bool factoryGivesNothing;
    bool leaves;  // whether `leave` runs: only after a successful `enter`
  };
  const Case cases[] = {
      {"enter fails", true, false, false, false},
      {"factory fails", false, true, false, true},
      {"factory gives no link", false, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool left = false;
    LinkThreadHooks hooks;
    hooks.enter = [&] {
      if (c.enterFails) throw std::runtime_error("CoInitializeEx refused");
    };
    hooks.leave = [&] { left = true; };
    EXPECT_THROW(LinkThread(
                     [&]() -> std::unique_ptr<ServerLink> {
                       if (c.factoryFails) throw std::runtime_error("class not registered");
                       if (c.factoryGivesNothing) return nullptr;
                       return std::make_unique<NullLink>();
                     },
                     hooks),
                 std::runtime_error);
    EXPECT_EQ(left, c.leaves);
  }
}

// While it waits for work the thread keeps calling the idle hook (an
// apartment-threaded thread pumps its messages there).
TEST(LinkThread, IdleHookRunsWhileWaiting) {
  std::atomic<int> idles{0};
  LinkThreadHooks hooks;
  hooks.idle = [&] { ++idles; };
  hooks.idleInterval = std::chrono::milliseconds(1);
  LinkThread link([] { return std::make_unique<NullLink>(); }, hooks);
  for (int i = 0; i < 2000 && idles < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GE(idles, 3);
  link.Post([] {}).get();
}

// Calls queued before the end still run before the link goes.
TEST(LinkThread, QueuedCallsRunBeforeTheEnd) {
  std::atomic<int> ran{0};
  {
    LinkThread link([] { return std::make_unique<NullLink>(); });
    for (int i = 0; i < 10; ++i) link.Post([&] { ++ran; });
  }
  EXPECT_EQ(ran, 10);
}

}  // namespace
}  // namespace dorvik::testing
