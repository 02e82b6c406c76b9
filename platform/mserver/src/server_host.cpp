#include "mserver/server_host.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "global_routines.h"
#include "lmdb_globals.h"
#include "mserver/byte_store.h"
#include "mserver/journal.h"
#include "mserver/server_locks.h"
#include "process_activity.h"
#include "undo_journal.h"

namespace mserver {
namespace {

// $ZU function number of the journaling switch: $ZU(139) answers the calling
// process's state (1 on, 0 off), $ZU(139,0|1) sets it and answers the new one.
constexpr const char* kJournalZu = "139";

// The journaling switch routine that installers call around bulk loads.
const std::vector<std::string> kNojrnRoutine = {
    "%NOJRN ;switches journaling of global updates for the calling process",
    " q",
    "ENABLE q:$zu(139,1)  q",
    "DISABLE q:$zu(139,0)  q",
};

// Writes a job's output to the server log, one log line per output line (a
// line longer than kLongestLine is cut into several). At most `limit` bytes
// of output reach the log: a job writing in a loop must not fill the disk.
// Beyond it the output is dropped; one line says so when it starts and one
// how much was dropped when the job ends.
class JobOutput final : public mengine::OutputSink {
 public:
  static constexpr std::size_t kLongestLine = 64 * 1024;

  JobOutput(Log& log, std::string prefix, std::size_t limit) : log_(log), prefix_(std::move(prefix)), limit_(limit) {}
  ~JobOutput() override { Finish(); }
  void Write(std::string_view bytes) override {
    const std::size_t room = limit_ - std::min(limit_, taken_);
    if (bytes.size() > room) {
      if (dropped_ == 0) {
        Flush();
        log_.Line(prefix_ + "output beyond " + std::to_string(limit_) + " bytes is dropped");
      }
      dropped_ += bytes.size() - room;
      bytes = bytes.substr(0, room);
    }
    taken_ += bytes.size();
    for (char c : bytes) {
      if (c == '\n') {
        Flush();
      } else if (c != '\r') {
        pending_.push_back(c);
        if (pending_.size() >= kLongestLine) Flush();
      }
    }
  }
  void Flush() {
    if (!pending_.empty()) log_.Line(prefix_ + pending_);
    pending_.clear();
  }
  // Flushes and reports what was dropped; once.
  void Finish() {
    Flush();
    if (dropped_ != 0) {
      log_.Line(prefix_ + std::to_string(dropped_) + " bytes of output dropped (limit " + std::to_string(limit_) +
                " bytes)");
    }
    dropped_ = 0;
  }

 private:
  Log& log_;
  std::string prefix_;
  std::size_t limit_;
  std::size_t taken_ = 0;
  std::uint64_t dropped_ = 0;
  std::string pending_;
};

}  // namespace

struct ServerHost::Space {
  std::unique_ptr<ByteStore> store;
  std::unique_ptr<LmdbGlobalStore> globals;
  std::unique_ptr<GlobalRoutineStore> routines;
};

struct ServerHost::Job {
  std::thread thread;
  mengine::Process* process = nullptr;  // guarded by jobsMutex_
  bool finished = false;                // guarded by jobsMutex_
};

std::vector<std::string> DefaultNamespaces() { return {"%CACHELIB", "%SYS", "SAMPLES", "USER"}; }

std::string NamespaceName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string> NamespacesInFolder(const std::filesystem::path& data) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(data, ec)) {
    if (entry.is_directory() && std::filesystem::exists(entry.path() / "data.mdb")) {
      out.push_back(NamespaceName(entry.path().filename().string()));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Takes the data folder for this process alone: routines are cached per
// process, so a second process writing the same folder could leave this one
// running routines that were replaced.
static int LockDataFolder(const std::filesystem::path& data) {
  std::error_code ec;
  std::filesystem::create_directories(data, ec);
  if (ec) throw StoreError("cannot create the data folder " + data.string() + ": " + ec.message());
  const auto file = data / "mserver.lock";
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw StoreError("cannot open " + file.string() + ": " + std::strerror(errno));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    throw StoreError("the data folder " + data.string() + " is in use by another mserver process");
  }
  return fd;
}

ServerHost::ServerHost(HostConfig config, Log& log)
    : config_(std::move(config)),
      log_(log),
      memory_(config_.maxServerMemory),
      locks_(std::make_unique<ServerLockTable>()),
      folderLock_(LockDataFolder(config_.data)) {
  std::vector<std::string> names = config_.namespaces.empty() ? DefaultNamespaces() : config_.namespaces;
  if (!config_.journal.empty()) journal_ = std::make_unique<Journal>(config_.journal);
  names.push_back(kSystemNamespace);
  for (std::string& n : names) n = NamespaceName(n);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  for (const std::string& name : names) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
      throw StoreError("bad namespace name '" + name + "'");
    }
    auto space = std::make_unique<Space>();
    space->store = ByteStore::Open(config_.data / name);
    space->globals = std::make_unique<LmdbGlobalStore>(*space->store, journal_.get(), name);
    space->routines = std::make_unique<GlobalRoutineStore>(*space->globals);
    spaces_.emplace(name, std::move(space));
  }
  names_ = std::move(names);

  ProcessActivity setup;
  ProcessActivity::Scope scope(setup);
  // Transactions left open by processes of a server that was killed are
  // rolled back before anything else runs.
  undo_ = std::make_unique<LmdbUndoJournal>(*spaces_.at(kSystemNamespace)->store);
  for (auto& [job, records] : undo_->Pending()) {
    mengine::UndoUpdates(*this, records);
    undo_->Forget(job, 0);
    log_.Line("rolled back the open transaction of process " + std::to_string(job) + " (" +
              std::to_string(records.size()) + " update(s))");
  }
  Routines(kSystemNamespace)->Save("%NOJRN", kNojrnRoutine, mengine::CompileRoutine("%NOJRN", kNojrnRoutine));
  setup.SyncAll();

  if (!config_.flushEachLine) {
    flusher_ = std::thread([this] {
      std::unique_lock lock(flushMutex_);
      while (!flushWake_.wait_for(lock, std::chrono::seconds(1), [&] { return flushStop_; })) {
        for (auto& [name, space] : spaces_) {
          try {
            space->store->Sync();
          } catch (const std::exception& e) {
            log_.Line("flushing " + name + " failed: " + e.what());
          }
        }
      }
    });
  }
}

mengine::TransactionJournal* ServerHost::UndoJournal() { return undo_.get(); }

void ServerHost::LineEnded(ProcessActivity& activity) {
  if (config_.flushEachLine) {
    activity.SyncAll();
  } else {
    activity.unsynced.clear();  // the flusher takes care of them
  }
}

ServerHost::~ServerHost() {
  if (!StopJobs(std::chrono::milliseconds(5000))) {
    log_.Line("waiting for " + std::to_string(RunningJobs()) + " job(s) to stop");
  }
  // The databases close after this, so every job thread must be gone first.
  std::vector<std::unique_ptr<Job>> jobs;
  {
    std::lock_guard lock(jobsMutex_);
    jobs.swap(jobs_);
  }
  for (auto& job : jobs) {
    if (job->thread.joinable()) job->thread.join();
  }
  if (flusher_.joinable()) {
    {
      std::lock_guard lock(flushMutex_);
      flushStop_ = true;
    }
    flushWake_.notify_all();
    flusher_.join();
  }
  spaces_.clear();  // close the databases before giving the folder up
  ::close(folderLock_);
}

std::vector<std::string> ServerHost::Namespaces() { return names_; }

ServerHost::Space* ServerHost::Find(std::string_view ns) {
  auto it = spaces_.find(ns);
  if (it == spaces_.end()) it = spaces_.find(NamespaceName(ns));
  return it == spaces_.end() ? nullptr : it->second.get();
}

mengine::GlobalStore* ServerHost::Globals(std::string_view ns) {
  Space* s = Find(ns);
  return s ? s->globals.get() : nullptr;
}

mengine::RoutineStore* ServerHost::Routines(std::string_view ns) {
  Space* s = Find(ns);
  return s ? s->routines.get() : nullptr;
}

mengine::ZuResult ServerHost::ZU(const mengine::ZuCall& call) {
  if (!call.args.empty() && call.args[0] == kJournalZu && call.args.size() <= 2) {
    ProcessActivity& activity = ProcessActivity::Current();
    if (call.args.size() == 2) {
      if (call.args[1] != "0" && call.args[1] != "1") return {};
      activity.journaling = call.args[1] == "1";
    }
    return {true, activity.journaling ? "1" : "0"};
  }
  return Host::ZU(call);
}

bool ServerHost::HoldsLocks(std::uint64_t job) { return static_cast<ServerLockTable&>(*locks_).HoldsAny(job); }

int ServerHost::RunningJobs() {
  std::lock_guard lock(jobsMutex_);
  return running_;
}

bool ServerHost::StartJob(const mengine::JobRequest& request, std::chrono::milliseconds timeout) {
  std::unique_lock lock(jobsMutex_);
  // Join the threads of jobs that have ended.
  std::erase_if(jobs_, [](std::unique_ptr<Job>& job) {
    if (!job->finished) return false;
    job->thread.join();
    return true;
  });
  if (config_.maxJobs <= 0 || stopping_) return false;  // no slot can ever free
  auto hasSlot = [&] { return stopping_ || running_ < config_.maxJobs; };
  if (timeout.count() < 0) {
    jobsChanged_.wait(lock, hasSlot);
  } else if (!jobsChanged_.wait_for(lock, timeout, hasSlot)) {
    return false;
  }
  if (stopping_) return false;
  auto job = std::make_unique<Job>();
  Job& ref = *job;
  try {
    ref.thread = std::thread([this, &ref, request] { RunJob(ref, request); });
  } catch (const std::system_error& e) {
    log_.Line(std::string("cannot start a job: ") + e.what());
    return false;  // JOB times out, as when no slot is free
  }
  ++running_;
  jobs_.push_back(std::move(job));
  return true;
}

void ServerHost::RunJob(Job& job, mengine::JobRequest request) {
  const std::uint64_t id = NewJobId();
  ProcessMemory memory(config_.maxProcessMemory, &memory_);
  JobOutput output(log_, "job " + std::to_string(id) + ": ", config_.maxJobOutput);
  ProcessActivity activity;
  activity.job = id;
  ProcessActivity::Scope scope(activity);
  const std::string entry = request.label + "^" + request.routine;
  {
    ProcessMemory::Scope charge(memory);
    mengine::ProcessOptions options;
    options.ns = request.ns;
    options.output = &output;
    options.limits = config_.jobLimits;
    options.limits.memory_exceeded = memory.ExceededSignal();
    options.job = id;
    mengine::Process process(*this, options);
    {
      std::lock_guard lock(jobsMutex_);
      job.process = &process;
      if (stopping_) process.RequestStop();
    }
    log_.Line("job " + std::to_string(id) + " started: " + entry + " in " + request.ns);
    mengine::Result result;
    try {
      result = process.RunEntry(request);
    } catch (const std::exception& e) {
      result.error = true;
      result.error_text = e.what();
    }
    output.Finish();
    try {
      LineEnded(activity);
    } catch (const std::exception& e) {
      log_.Line("job " + std::to_string(id) + ": sync failed: " + e.what());
    }
    log_.Line("job " + std::to_string(id) + " ended" +
              (result.error ? " with error " + result.error_text : std::string()) + " (updates journaled " +
              std::to_string(activity.journaledUpdates) + ", unjournaled " +
              std::to_string(activity.unjournaledUpdates) + ")");
    std::lock_guard lock(jobsMutex_);
    job.process = nullptr;
  }  // the process ends here and releases its locks
  std::lock_guard lock(jobsMutex_);
  job.finished = true;
  --running_;
  jobsChanged_.notify_all();
}

bool ServerHost::StopJobs(std::chrono::milliseconds grace) {
  std::unique_lock lock(jobsMutex_);
  stopping_ = true;
  for (auto& job : jobs_) {
    if (job->process) job->process->RequestStop();
  }
  jobsChanged_.notify_all();
  const bool idle = jobsChanged_.wait_for(lock, grace, [&] { return running_ == 0; });
  for (auto& job : jobs_) {
    if (job->finished && job->thread.joinable()) job->thread.join();
  }
  return idle;
}

}  // namespace mserver
