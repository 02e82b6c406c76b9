#include "wizard_model/link_thread.h"

#include <stdexcept>

namespace dorvik {

LinkThread::LinkThread(Factory factory, LinkThreadHooks hooks) : hooks_(std::move(hooks)) {
  std::promise<void> started;
  std::future<void> ready = started.get_future();
  thread_ =
      std::thread([this, factory = std::move(factory), &started]() mutable { Main(std::move(factory), started); });
  try {
    ready.get();
  } catch (...) {
    thread_.join();
    throw;
  }
}

LinkThread::~LinkThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::future<void> LinkThread::Post(std::function<void()> call, std::function<void()> finished) {
  Job job{std::packaged_task<void()>(std::move(call)), std::move(finished)};
  std::future<void> done = job.call.get_future();
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_all();
  return done;
}

void LinkThread::Main(Factory factory, std::promise<void>& started) {
  bool entered = false;
  try {
    if (hooks_.enter) hooks_.enter();
    entered = true;
    link_ = factory();
    if (!link_) throw std::runtime_error("no server link was made");
  } catch (...) {
    link_.reset();
    if (entered && hooks_.leave) hooks_.leave();
    started.set_exception(std::current_exception());
    return;
  }
  started.set_value();

  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      while (jobs_.empty() && !stopping_) {
        if (hooks_.idle) {
          lock.unlock();
          hooks_.idle();
          lock.lock();
          wake_.wait_for(lock, hooks_.idleInterval, [this] { return !jobs_.empty() || stopping_; });
        } else {
          wake_.wait(lock);
        }
      }
      if (jobs_.empty()) break;  // stopping, and nothing left to run
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job.call();  // the task keeps what the call threw for its future
    if (job.finished) job.finished();
  }
  link_.reset();
  if (hooks_.leave) hooks_.leave();
}

}  // namespace dorvik
