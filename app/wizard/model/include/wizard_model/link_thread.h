// The thread that owns the server link: it creates the link, makes every
// call on it and destroys it, so a link that must stay on the thread that
// made it (the VisM control, apartment-threaded on Windows) never meets
// another thread. The interface thread posts the wizard's server steps here
// and keeps its windows alive until they have finished.
//
// Usage (a front end):
//   LinkThread link([] { return std::make_unique<TcpLink>(); });
//   Session session(files, link.Link(), ui, clock, settings);
//   auto done = link.Post(step, [&] { wake the interface thread });
//   while (done.wait_for(0s) != std::future_status::ready) pump messages;
//   done.get();  // throws again what the step threw
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "core/server_link.h"

namespace dorvik {

// What a front end adds to the link thread's life.
struct LinkThreadHooks {
  // Runs first on the thread, before the link exists (on Windows: COM
  // initialised apartment-threaded).
  std::function<void()> enter;
  // Runs last on the thread, after the link is gone.
  std::function<void()> leave;
  // Runs on the thread while it waits for work, at least every
  // `idleInterval` (an apartment-threaded thread pumps its messages here).
  std::function<void()> idle;
  std::chrono::milliseconds idleInterval{20};
};

class LinkThread {
 public:
  using Factory = std::function<std::unique_ptr<ServerLink>()>;

  // Starts the thread and waits until it has created the link; throws what
  // `enter` or the factory threw (the thread is then gone).
  explicit LinkThread(Factory factory, LinkThreadHooks hooks = LinkThreadHooks());
  // Runs the calls still queued, destroys the link on its thread, runs
  // `leave` and joins the thread.
  ~LinkThread();
  LinkThread(const LinkThread&) = delete;
  LinkThread& operator=(const LinkThread&) = delete;

  // The link. Call it only from calls posted here.
  ServerLink& Link() { return *link_; }

  // Queues `call`. The future becomes ready when it has finished and holds
  // what it threw; `finished` runs on the link thread right after that, to
  // wake the interface thread; it must not throw.
  std::future<void> Post(std::function<void()> call, std::function<void()> finished = {});

  bool OnLinkThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  struct Job {
    std::packaged_task<void()> call;
    std::function<void()> finished;
  };
  void Main(Factory factory, std::promise<void>& started);

  LinkThreadHooks hooks_;
  std::unique_ptr<ServerLink> link_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace dorvik
