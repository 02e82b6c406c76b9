// The server's side of the M engine: namespaces, each with its globals and
// routines in one LMDB environment under the data folder, one lock table,
// background jobs as threads with a limit, $ZVERSION and the $ZU calls.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mengine/host.h"
#include "mengine/memory_host.h"
#include "mengine/process.h"
#include "mserver/log.h"
#include "mserver/process_memory.h"

namespace mserver {

struct ProcessActivity;
class ByteStore;
class Journal;
class LmdbUndoJournal;

inline constexpr const char* kServerVersion = "Velmora M test server 1.0 (mserver, Linux)";
inline constexpr const char* kSystemNamespace = "%SYS";

struct HostConfig {
  std::filesystem::path data;
  // Namespace names; "%SYS" is always added. Empty: the default set.
  std::vector<std::string> namespaces;
  int maxJobs = 32;  // running background jobs at most; 0 = JOB never starts
  mengine::Limits jobLimits;
  // Every update is committed to the database file when it is made, so a
  // killed server loses nothing either way. false: the file is flushed to the
  // disk once a second, as a database's write daemon does; a crash of the
  // machine may lose the last second. true: a line's updates are flushed
  // before its answer, safe even against a power failure, at one disk sync
  // per writing line.
  bool flushEachLine = false;
  // When set, updates made with journaling on are appended to this file.
  std::filesystem::path journal;
  // Memory each M process (connection or job) may hold before <STORE>
  // (ProcessMemory); 0 for no limit.
  std::size_t maxProcessMemory = kDefaultProcessMemory;
  // Memory all M processes together may hold (ServerMemory): beyond it the
  // process that asks gets <STORE>; 0 for no limit.
  std::size_t maxServerMemory = DefaultServerMemory();
  // Bytes of a job's WRITE output that go to the log; the rest is dropped
  // and counted in one line when the job ends.
  std::size_t maxJobOutput = std::size_t{1} << 20;
};

// The default namespaces of a new server.
std::vector<std::string> DefaultNamespaces();

// Upper-cases a namespace name (names are case-insensitive).
std::string NamespaceName(std::string_view name);

// Names of the namespaces that have a database in `data` (sorted).
std::vector<std::string> NamespacesInFolder(const std::filesystem::path& data);

class ServerHost final : public mengine::Host {
 public:
  // Opens (creating when needed) every namespace's database and installs the
  // system routines. Throws StoreError when a database cannot be opened.
  ServerHost(HostConfig config, Log& log);
  ~ServerHost() override;  // stops the jobs, then closes the databases

  std::vector<std::string> Namespaces() override;
  mengine::GlobalStore* Globals(std::string_view ns) override;
  mengine::RoutineStore* Routines(std::string_view ns) override;
  mengine::LockTable& Locks() override { return *locks_; }
  // Undo records of open transactions, in the %SYS database.
  mengine::TransactionJournal* UndoJournal() override;
  bool StartJob(const mengine::JobRequest& request, std::chrono::milliseconds timeout) override;
  std::uint64_t NewJobId() override { return nextJob_.fetch_add(1); }
  std::string ZVersion() override { return kServerVersion; }
  mengine::ZuResult ZU(const mengine::ZuCall& call) override;

  // Called when a line of `activity`'s process has ended: makes its updates
  // durable as the configuration says.
  void LineEnded(ProcessActivity& activity);

  // Asks every job to stop and waits for them (at most `grace`); answers
  // true when none is left running.
  bool StopJobs(std::chrono::milliseconds grace);
  int RunningJobs();

  Log& log() { return log_; }
  std::size_t maxProcessMemory() const { return config_.maxProcessMemory; }
  // What every process of this server is charged to as well.
  ServerMemory& serverMemory() { return memory_; }
  // Whether the process `job` holds any lock.
  bool HoldsLocks(std::uint64_t job);

 private:
  struct Space;
  struct Job;
  Space* Find(std::string_view ns);
  void RunJob(Job& job, mengine::JobRequest request);

  HostConfig config_;
  Log& log_;
  // Declared early: it outlives the stores that may keep memory charged to it.
  ServerMemory memory_;
  std::vector<std::string> names_;  // sorted
  std::map<std::string, std::unique_ptr<Space>, std::less<>> spaces_;
  std::unique_ptr<mengine::LockTable> locks_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<LmdbUndoJournal> undo_;
  int folderLock_ = -1;  // flock on DIR/mserver.lock while this host lives
  std::atomic<std::uint64_t> nextJob_{1};

  std::mutex jobsMutex_;
  std::condition_variable jobsChanged_;
  std::vector<std::unique_ptr<Job>> jobs_;
  int running_ = 0;
  bool stopping_ = false;

  // Periodic flush when lines do not flush themselves.
  std::mutex flushMutex_;
  std::condition_variable flushWake_;
  bool flushStop_ = false;
  std::thread flusher_;
};

}  // namespace mserver
