// What the M process running on the current thread has done to storage:
// its journaling switch, counters of its global updates, and the stores it
// has written since the last sync. Each connection and each job runs its
// process on a thread of its own, so the stores find the writer here.
#pragma once

#include <cstdint>
#include <set>

namespace mserver {

class ByteStore;

struct ProcessActivity {
  std::uint64_t job = 0;  // $JOB of the process, for the journal
  bool journaling = true;
  std::uint64_t journaledUpdates = 0;
  std::uint64_t unjournaledUpdates = 0;
  std::set<ByteStore*> unsynced;

  // The activity of the process on this thread (a shared fallback for
  // threads that run no process).
  static ProcessActivity& Current();
  // Installs `activity` for this thread for the lifetime of the guard.
  class Scope {
   public:
    explicit Scope(ProcessActivity& activity);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    ProcessActivity* previous_;
  };

  void Record(ByteStore* store) {
    (journaling ? journaledUpdates : unjournaledUpdates) += 1;
    unsynced.insert(store);
  }
  // Makes every update of this process durable (called when a line ends).
  void SyncAll();
};

}  // namespace mserver
