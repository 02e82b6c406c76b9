#include "process_activity.h"

#include "mserver/byte_store.h"

namespace mserver {
namespace {
thread_local ProcessActivity* current = nullptr;
thread_local ProcessActivity fallback;
}  // namespace

ProcessActivity& ProcessActivity::Current() { return current ? *current : fallback; }

ProcessActivity::Scope::Scope(ProcessActivity& activity) : previous_(current) { current = &activity; }

ProcessActivity::Scope::~Scope() { current = previous_; }

void ProcessActivity::SyncAll() {
  for (ByteStore* store : unsynced) store->Sync();
  unsynced.clear();
}

}  // namespace mserver
