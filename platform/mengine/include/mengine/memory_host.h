// In-memory implementations of the host interfaces: globals in sorted maps
// over encoded keys, routines in a map, one lock table shared by all threads,
// jobs as threads running their own Process. Enough to run several M
// processes in one program (tests, demos); nothing is kept on disk.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mengine/host.h"
#include "mengine/process.h"

namespace mengine {

class MemoryGlobalStore final : public GlobalStore {
 public:
  std::optional<std::string> Get(std::string_view key) override;
  void Set(std::string_view key, std::string_view value) override;
  void Kill(std::string_view key) override;
  int Data(std::string_view key) override;
  std::optional<std::string> Order(std::string_view parent, std::string_view after, bool reverse) override;
  std::optional<std::string> Query(std::string_view key, bool reverse) override;
  void Merge(std::string_view target, std::string_view source) override;
  std::string Update(std::string_view key,
                     const std::function<std::string(const std::optional<std::string>&)>& update) override;

 private:
  std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> nodes_;
};

class MemoryRoutineStore final : public RoutineStore {
 public:
  std::shared_ptr<const RoutineImage> Load(std::string_view name) override;
  void Save(std::string_view name, std::vector<std::string> source, std::string compiled) override;
  bool Remove(std::string_view name) override;
  std::vector<std::string> List() override;

 private:
  std::mutex mutex_;
  std::uint64_t next_version_ = 1;
  std::map<std::string, std::shared_ptr<const RoutineImage>, std::less<>> routines_;
};

class MemoryLockTable final : public LockTable {
 public:
  bool Acquire(std::uint64_t owner, std::span<const std::string> resources, std::chrono::milliseconds timeout,
               const std::function<bool()>& cancelled) override;
  void Release(std::uint64_t owner, std::string_view resource) override;
  void ReleaseAll(std::uint64_t owner) override;
  // Whether the owner holds any lock.
  bool HoldsAny(std::uint64_t owner);

 private:
  bool Free(std::uint64_t owner, std::string_view resource) const;
  struct Held {
    std::uint64_t owner;
    std::string resource;
    int count;
  };
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Held> held_;
};

// A whole host in memory. Namespaces "%SYS" and "USER" exist from the start
// (more with AddNamespace). Jobs run as threads; the destructor stops and
// joins them.
class MemoryHost : public Host {
 public:
  MemoryHost();
  ~MemoryHost() override;

  void AddNamespace(const std::string& ns);

  // Limits and output given to job processes (default: no step limit).
  void SetJobLimits(const Limits& limits);

  std::vector<std::string> Namespaces() override;
  GlobalStore* Globals(std::string_view ns) override;
  RoutineStore* Routines(std::string_view ns) override;
  LockTable& Locks() override;
  bool StartJob(const JobRequest& request, std::chrono::milliseconds timeout) override;
  std::uint64_t NewJobId() override;

  // Number of jobs still running.
  int RunningJobs();
  // Waits until no job runs or `timeout` passes; true when none runs.
  bool WaitForJobs(std::chrono::milliseconds timeout);

  // Saves a routine from its lines (compiles it as ZSAVE would).
  void SaveRoutine(const std::string& ns, const std::string& name, const std::vector<std::string>& lines);

 private:
  struct Space {
    MemoryGlobalStore globals;
    MemoryRoutineStore routines;
  };
  struct Job {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
    Process* process = nullptr;
  };
  std::mutex mutex_;
  std::vector<std::string> order_;
  std::map<std::string, std::unique_ptr<Space>, std::less<>> spaces_;
  MemoryLockTable locks_;
  std::atomic<std::uint64_t> next_job_{1000};
  Limits job_limits_;
  std::mutex jobs_mutex_;
  std::condition_variable jobs_changed_;
  std::vector<std::unique_ptr<Job>> jobs_;
  std::atomic<bool> stopping_{false};
};

// Writes the system routines that Cache code commonly calls and this engine
// provides itself (%NOJRN with ENABLE and DISABLE, which do nothing here)
// into a routine store; hosts call it for "%SYS".
void InstallSystemRoutines(RoutineStore& store);

// An OutputSink that keeps everything in a string.
class StringSink final : public OutputSink {
 public:
  void Write(std::string_view bytes) override {
    std::lock_guard lock(mutex_);
    text_.append(bytes);
  }
  std::string Take() {
    std::lock_guard lock(mutex_);
    std::string out;
    out.swap(text_);
    return out;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

}  // namespace mengine
