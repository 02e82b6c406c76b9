// In-memory host: globals, routines, locks and jobs for one program.
#include "mengine/memory_host.h"

#include <algorithm>

#include "sorted_tree.h"

namespace mengine {

// ---- globals ----

std::optional<std::string> MemoryGlobalStore::Get(std::string_view key) {
  std::lock_guard lock(mutex_);
  auto it = nodes_.find(key);
  if (it == nodes_.end()) return std::nullopt;
  return it->second;
}

void MemoryGlobalStore::Set(std::string_view key, std::string_view value) {
  std::lock_guard lock(mutex_);
  nodes_.insert_or_assign(std::string(key), std::string(value));
}

void MemoryGlobalStore::Kill(std::string_view key) {
  std::lock_guard lock(mutex_);
  tree::Kill(nodes_, key);
}

int MemoryGlobalStore::Data(std::string_view key) {
  std::lock_guard lock(mutex_);
  return tree::Data(nodes_, key);
}

std::optional<std::string> MemoryGlobalStore::Order(std::string_view parent, std::string_view after, bool reverse) {
  std::lock_guard lock(mutex_);
  return tree::Order(nodes_, parent, after, reverse);
}

std::optional<std::string> MemoryGlobalStore::Query(std::string_view key, bool reverse) {
  std::lock_guard lock(mutex_);
  return tree::Query(nodes_, key, reverse);
}

void MemoryGlobalStore::Merge(std::string_view target, std::string_view source) {
  std::lock_guard lock(mutex_);
  tree::Merge(nodes_, target, source);
}

std::string MemoryGlobalStore::Update(std::string_view key,
                                      const std::function<std::string(const std::optional<std::string>&)>& update) {
  std::lock_guard lock(mutex_);
  auto it = nodes_.find(key);
  std::optional<std::string> old;
  if (it != nodes_.end()) old = it->second;
  std::string value = update(old);
  nodes_.insert_or_assign(std::string(key), value);
  return value;
}

// ---- routines ----

std::shared_ptr<const RoutineImage> MemoryRoutineStore::Load(std::string_view name) {
  std::lock_guard lock(mutex_);
  auto it = routines_.find(name);
  return it == routines_.end() ? nullptr : it->second;
}

void MemoryRoutineStore::Save(std::string_view name, std::vector<std::string> source, std::string compiled) {
  auto image = std::make_shared<RoutineImage>();
  image->name = std::string(name);
  image->source = std::move(source);
  image->compiled = std::move(compiled);
  std::lock_guard lock(mutex_);
  image->version = next_version_++;
  routines_.insert_or_assign(std::string(name), std::move(image));
}

bool MemoryRoutineStore::Remove(std::string_view name) {
  std::lock_guard lock(mutex_);
  auto it = routines_.find(name);
  if (it == routines_.end()) return false;
  routines_.erase(it);
  return true;
}

std::vector<std::string> MemoryRoutineStore::List() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& [name, image] : routines_) names.push_back(name);
  return names;
}

// ---- locks ----

bool MemoryLockTable::Free(std::uint64_t owner, std::string_view resource) const {
  for (const auto& h : held_) {
    if (h.owner == owner) continue;
    if (tree::StartsWith(h.resource, resource) || tree::StartsWith(resource, h.resource)) return false;
  }
  return true;
}

bool MemoryLockTable::Acquire(std::uint64_t owner, std::span<const std::string> resources,
                              std::chrono::milliseconds timeout, const std::function<bool()>& cancelled) {
  std::unique_lock lock(mutex_);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    bool all = std::all_of(resources.begin(), resources.end(), [&](const std::string& r) { return Free(owner, r); });
    if (all) {
      for (const auto& r : resources) {
        auto it = std::find_if(held_.begin(), held_.end(),
                               [&](const Held& h) { return h.owner == owner && h.resource == r; });
        if (it != held_.end())
          ++it->count;
        else
          held_.push_back({owner, r, 1});
      }
      return true;
    }
    auto now = std::chrono::steady_clock::now();
    if (timeout.count() >= 0 && now >= deadline) return false;
    if (cancelled && cancelled()) return false;
    auto slice = std::chrono::milliseconds(50);
    if (timeout.count() >= 0)
      slice = std::min(
          slice, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1));
    changed_.wait_for(lock, slice);
  }
}

void MemoryLockTable::Release(std::uint64_t owner, std::string_view resource) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(held_.begin(), held_.end(),
                         [&](const Held& h) { return h.owner == owner && h.resource == resource; });
  if (it == held_.end()) return;
  if (--it->count <= 0) held_.erase(it);
  changed_.notify_all();
}

void MemoryLockTable::ReleaseAll(std::uint64_t owner) {
  std::lock_guard lock(mutex_);
  std::erase_if(held_, [&](const Held& h) { return h.owner == owner; });
  changed_.notify_all();
}

bool MemoryLockTable::HoldsAny(std::uint64_t owner) {
  std::lock_guard lock(mutex_);
  return std::any_of(held_.begin(), held_.end(), [&](const Held& h) { return h.owner == owner; });
}

// ---- host ----

MemoryHost::MemoryHost() {
  AddNamespace("%SYS");
  AddNamespace("USER");
  InstallSystemRoutines(spaces_.find("%SYS")->second->routines);
  job_limits_.max_stack = 256;
}

MemoryHost::~MemoryHost() {
  stopping_ = true;
  std::vector<std::unique_ptr<Job>> jobs;
  {
    std::lock_guard lock(jobs_mutex_);
    for (auto& j : jobs_)
      if (j->process) j->process->RequestStop();
    jobs.swap(jobs_);
  }
  for (auto& j : jobs)
    if (j->thread.joinable()) j->thread.join();
}

void MemoryHost::AddNamespace(const std::string& ns) {
  std::lock_guard lock(mutex_);
  if (spaces_.count(ns)) return;
  spaces_.emplace(ns, std::make_unique<Space>());
  order_.push_back(ns);
}

void MemoryHost::SetJobLimits(const Limits& limits) { job_limits_ = limits; }

std::vector<std::string> MemoryHost::Namespaces() {
  std::lock_guard lock(mutex_);
  return order_;
}

GlobalStore* MemoryHost::Globals(std::string_view ns) {
  std::lock_guard lock(mutex_);
  auto it = spaces_.find(ns);
  return it == spaces_.end() ? nullptr : &it->second->globals;
}

RoutineStore* MemoryHost::Routines(std::string_view ns) {
  std::lock_guard lock(mutex_);
  auto it = spaces_.find(ns);
  return it == spaces_.end() ? nullptr : &it->second->routines;
}

LockTable& MemoryHost::Locks() { return locks_; }

std::uint64_t MemoryHost::NewJobId() { return next_job_++; }

bool MemoryHost::StartJob(const JobRequest& request, std::chrono::milliseconds) {
  if (stopping_ || !Globals(request.ns)) return false;
  auto job = std::make_unique<Job>();
  job->done = std::make_shared<std::atomic<bool>>(false);
  Job* raw = job.get();
  std::lock_guard lock(jobs_mutex_);
  std::erase_if(jobs_, [](const std::unique_ptr<Job>& j) {
    if (!*j->done) return false;
    if (j->thread.joinable()) j->thread.join();
    return true;
  });
  ProcessOptions options;
  options.ns = request.ns;
  options.limits = job_limits_;
  auto process = std::make_shared<Process>(*this, options);
  raw->process = process.get();
  raw->thread = std::thread([this, raw, process, request]() mutable {
    process->RunEntry(request);
    {
      std::lock_guard done_lock(jobs_mutex_);
      raw->process = nullptr;
    }
    process.reset();
    // The process (and with it its locks) ends before the job counts as done.
    *raw->done = true;
    jobs_changed_.notify_all();
  });
  jobs_.push_back(std::move(job));
  return true;
}

int MemoryHost::RunningJobs() {
  std::lock_guard lock(jobs_mutex_);
  return static_cast<int>(std::count_if(jobs_.begin(), jobs_.end(), [](const auto& j) { return !*j->done; }));
}

bool MemoryHost::WaitForJobs(std::chrono::milliseconds timeout) {
  std::unique_lock lock(jobs_mutex_);
  return jobs_changed_.wait_for(lock, timeout, [this] {
    return std::none_of(jobs_.begin(), jobs_.end(), [](const auto& j) { return !*j->done; });
  });
}

void MemoryHost::SaveRoutine(const std::string& ns, const std::string& name, const std::vector<std::string>& lines) {
  RoutineStore* store = Routines(ns);
  if (!store) return;
  store->Save(name, lines, CompileRoutine(name, lines));
}

void InstallSystemRoutines(RoutineStore& store) {
  // Journaling does not exist in this engine: ENABLE and DISABLE succeed
  // without effect, so code that switches it around its work runs unchanged.
  std::vector<std::string> nojrn = {"%NOJRN ; journaling switch", " Q", "ENABLE Q", "DISABLE Q"};
  store.Save("%NOJRN", nojrn, CompileRoutine("%NOJRN", nojrn));
}

}  // namespace mengine
