#include "mserver/process_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <new>
#include <string>

#include <unistd.h>

namespace mserver {

// What every process of a server holds. It lives while the ServerMemory or
// any account charged to it does.
struct ServerMemory::Pool {
  explicit Pool(std::size_t limitBytes)
      : limit(limitBytes), hard(limitBytes + std::max<std::size_t>(limitBytes / 8, std::size_t{16} << 20)) {}

  // Answers true when the caller must free the pool.
  bool Unref() { return refs.fetch_sub(1, std::memory_order_acq_rel) == 1; }

  std::atomic<std::uint64_t> held{0};
  std::atomic<int> refs{1};
  const std::size_t limit;  // 0: none
  const std::size_t hard;   // refusals above it
};

// Bytes held and the open flag share one word, so that exactly one thread
// sees the account both closed and empty, and frees it.
struct ProcessMemory::Account {
  static constexpr std::uint64_t kOpen = std::uint64_t{1} << 63;

  Account(std::size_t limitBytes, ServerMemory::Pool* serverPool)
      : pool(serverPool),
        limit(limitBytes),
        step(std::max<std::size_t>(limitBytes / 8, std::size_t{1} << 20)),
        hard(limitBytes + std::max<std::size_t>(limitBytes / 2, std::size_t{16} << 20)),
        nextSignal(limitBytes),
        ceiling(hard) {}

  std::uint64_t Held() const { return state.load(std::memory_order_relaxed) & ~kOpen; }

  // false: the allocation must be refused.
  bool Charge(std::size_t n) {
    const std::uint64_t held = (state.fetch_add(n, std::memory_order_relaxed) + n) & ~kOpen;
    const std::uint64_t total = pool ? pool->held.fetch_add(n, std::memory_order_relaxed) + n : 0;
    const bool serverLimited = pool && pool->limit != 0;
    if (limit == 0 && !serverLimited) return true;
    if (std::uncaught_exceptions() == 0) {
      if (limit != 0 && held > ceiling.load(std::memory_order_relaxed)) {
        Uncharge(n);
        // Room to report the error and unwind; taken away again below the limit.
        ceiling.store(held + step, std::memory_order_relaxed);
        return false;
      }
      if (serverLimited && total > pool->hard && held > serverCeiling.load(std::memory_order_relaxed)) {
        Uncharge(n);
        serverCeiling.store(held + step, std::memory_order_relaxed);
        return false;
      }
    }
    if (limit != 0 && held > nextSignal.load(std::memory_order_relaxed)) {
      nextSignal.store(held + step, std::memory_order_relaxed);
      exceeded.store(true, std::memory_order_relaxed);
    }
    // Over the server's limit, the process that asks is told; again once it
    // has taken a further step.
    if (serverLimited && total > pool->limit && held > nextServerSignal.load(std::memory_order_relaxed)) {
      nextServerSignal.store(held + step, std::memory_order_relaxed);
      exceeded.store(true, std::memory_order_relaxed);
    }
    return true;
  }

  void Uncharge(std::size_t n) {
    state.fetch_sub(n, std::memory_order_relaxed);
    if (pool) pool->held.fetch_sub(n, std::memory_order_relaxed);
  }

  // Answers true when the caller must free the account.
  bool Discharge(std::size_t n) {
    const std::uint64_t total = pool ? pool->held.fetch_sub(n, std::memory_order_relaxed) - n : 0;
    const std::uint64_t after = state.fetch_sub(n, std::memory_order_acq_rel) - n;
    if (after == 0) return true;  // closed and empty
    // A closed account charges nothing more: its levels no longer matter,
    // and another thread may free it once the rest is given back.
    if ((after & kOpen) == 0) return false;
    const std::uint64_t held = after & ~kOpen;
    if (limit != 0 && held < limit && nextSignal.load(std::memory_order_relaxed) != limit) {
      nextSignal.store(limit, std::memory_order_relaxed);
      ceiling.store(hard, std::memory_order_relaxed);
    }
    if (pool && pool->limit != 0) {
      if (total < pool->limit) {
        if (nextServerSignal.load(std::memory_order_relaxed) != 0) nextServerSignal.store(0, std::memory_order_relaxed);
        if (serverCeiling.load(std::memory_order_relaxed) != 0) serverCeiling.store(0, std::memory_order_relaxed);
      } else if (nextServerSignal.load(std::memory_order_relaxed) > held + step) {
        // What the process gave back it may not take again unnoticed.
        nextServerSignal.store(held + step, std::memory_order_relaxed);
      }
    }
    return false;
  }

  // Answers true when the caller must free the account.
  bool Close() { return state.fetch_and(~kOpen, std::memory_order_acq_rel) == kOpen; }

  std::atomic<std::uint64_t> state{kOpen};
  ServerMemory::Pool* const pool;  // null: no server-wide account
  const std::size_t limit;
  const std::size_t step;  // between two signals, and the reserve after a refusal
  const std::size_t hard;
  std::atomic<std::size_t> nextSignal;
  std::atomic<std::size_t> ceiling;
  // What the process may hold before the server's limit signals it again,
  // and up to which it may allocate above the server's refusal level (its
  // reserve after a refusal); both 0 while the server is below its limit.
  std::atomic<std::size_t> nextServerSignal{0};
  std::atomic<std::size_t> serverCeiling{0};
  std::atomic<bool> exceeded{false};
};

namespace {

// The account that this thread's allocations are charged to.
thread_local ProcessMemory::Account* current = nullptr;

// Every block of operator new starts with this header; the caller gets the
// bytes after it, aligned as malloc aligns.
struct alignas(__STDCPP_DEFAULT_NEW_ALIGNMENT__) Header {
  ProcessMemory::Account* account;
  std::size_t size;
};

// Accounts and pools are made with malloc, outside any account of their own.
template <class T, class... Args>
T* Make(Args... args) {
  void* raw = std::malloc(sizeof(T));
  if (!raw) throw std::bad_alloc();
  return new (raw) T(args...);
}

void FreePool(ServerMemory::Pool* pool) {
  if (!pool->Unref()) return;
  pool->~Pool();
  std::free(pool);
}

void FreeAccount(ProcessMemory::Account* account) {
  ServerMemory::Pool* pool = account->pool;
  account->~Account();
  std::free(account);
  if (pool) FreePool(pool);
}

// The machine's memory: its physical memory, or the control group's limit
// (cgroup v2) when that is lower.
std::size_t MachineMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  std::size_t bytes = pages > 0 && pageSize > 0 ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize)
                                                : std::size_t{4} << 30;
  std::ifstream cgroup("/sys/fs/cgroup/memory.max");
  std::string text;
  if (cgroup >> text && !text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
    bytes = std::min<std::size_t>(bytes, std::stoull(text));
  }
  return bytes;
}

void* Allocate(std::size_t size) {
  ProcessMemory::Account* account = current;
  if (account && !account->Charge(size)) throw std::bad_alloc();
  for (;;) {
    if (void* raw = std::malloc(sizeof(Header) + size)) {
      auto* header = static_cast<Header*>(raw);
      header->account = account;
      header->size = size;
      return header + 1;
    }
    std::new_handler handler = std::get_new_handler();
    if (!handler) {
      if (account && account->Discharge(size)) FreeAccount(account);
      throw std::bad_alloc();
    }
    handler();
  }
}

void Deallocate(void* p) noexcept {
  if (!p) return;
  Header* header = static_cast<Header*>(p) - 1;
  ProcessMemory::Account* account = header->account;
  const std::size_t size = header->size;
  std::free(header);
  if (account && account->Discharge(size)) FreeAccount(account);
}

}  // namespace

ServerMemory::ServerMemory(std::size_t limit) : pool_(Make<Pool>(limit)) {}
ServerMemory::~ServerMemory() { FreePool(pool_); }
std::size_t ServerMemory::InUse() const { return pool_->held.load(std::memory_order_relaxed); }
std::size_t ServerMemory::limit() const { return pool_->limit; }

std::size_t DefaultServerMemory() { return std::min(MachineMemory() / 4, kMaxDefaultServerMemory); }

ProcessMemory::ProcessMemory(std::size_t limit, ServerMemory* server)
    : account_(Make<Account>(limit, server ? server->pool_ : nullptr)) {
  if (server) server->pool_->refs.fetch_add(1, std::memory_order_relaxed);
}

ProcessMemory::~ProcessMemory() {
  if (account_->Close()) FreeAccount(account_);
}

std::size_t ProcessMemory::InUse() const { return account_->Held(); }
std::size_t ProcessMemory::limit() const { return account_->limit; }

std::atomic<bool>* ProcessMemory::ExceededSignal() {
  const bool serverLimited = account_->pool && account_->pool->limit != 0;
  return account_->limit == 0 && !serverLimited ? nullptr : &account_->exceeded;
}

void ProcessMemory::DropStaleSignal() {
  const Account& a = *account_;
  const bool processOver = a.limit != 0 && a.Held() >= a.limit;
  const bool serverOver = a.pool && a.pool->limit != 0 && a.pool->held.load(std::memory_order_relaxed) >= a.pool->limit;
  if (!processOver && !serverOver) account_->exceeded.store(false, std::memory_order_relaxed);
}

ProcessMemory::Scope::Scope(ProcessMemory& memory) : previous_(current) { current = memory.account_; }
ProcessMemory::Scope::~Scope() { current = static_cast<Account*>(previous_); }

}  // namespace mserver

// The replaceable allocation functions. The aligned forms are left to the
// library: they neither call these nor are freed by them.
void* operator new(std::size_t size) { return mserver::Allocate(size); }
void* operator new[](std::size_t size) { return mserver::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return mserver::Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return mserver::Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { mserver::Deallocate(p); }
void operator delete[](void* p) noexcept { mserver::Deallocate(p); }
void operator delete(void* p, std::size_t) noexcept { mserver::Deallocate(p); }
void operator delete[](void* p, std::size_t) noexcept { mserver::Deallocate(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { mserver::Deallocate(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { mserver::Deallocate(p); }
