#include "mserver/process_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>

namespace mserver {

// Bytes held and the open flag share one word, so that exactly one thread
// sees the account both closed and empty, and frees it.
struct ProcessMemory::Account {
  static constexpr std::uint64_t kOpen = std::uint64_t{1} << 63;

  explicit Account(std::size_t limitBytes)
      : limit(limitBytes),
        step(std::max<std::size_t>(limitBytes / 8, std::size_t{1} << 20)),
        hard(limitBytes + std::max<std::size_t>(limitBytes / 2, std::size_t{16} << 20)),
        nextSignal(limitBytes),
        ceiling(hard) {}

  std::uint64_t Held() const { return state.load(std::memory_order_relaxed) & ~kOpen; }

  // false: the allocation must be refused.
  bool Charge(std::size_t n) {
    const std::uint64_t held = (state.fetch_add(n, std::memory_order_relaxed) + n) & ~kOpen;
    if (limit == 0) return true;
    if (held > ceiling.load(std::memory_order_relaxed) && std::uncaught_exceptions() == 0) {
      state.fetch_sub(n, std::memory_order_relaxed);
      // Room to report the error and unwind; taken away again below the limit.
      ceiling.store(held + step, std::memory_order_relaxed);
      return false;
    }
    if (held > nextSignal.load(std::memory_order_relaxed)) {
      nextSignal.store(held + step, std::memory_order_relaxed);
      exceeded.store(true, std::memory_order_relaxed);
    }
    return true;
  }

  // Answers true when the caller must free the account.
  bool Discharge(std::size_t n) {
    const std::uint64_t after = state.fetch_sub(n, std::memory_order_acq_rel) - n;
    if (after == 0) return true;  // closed and empty
    if (limit != 0 && (after & ~kOpen) < limit && nextSignal.load(std::memory_order_relaxed) != limit) {
      nextSignal.store(limit, std::memory_order_relaxed);
      ceiling.store(hard, std::memory_order_relaxed);
    }
    return false;
  }

  // Answers true when the caller must free the account.
  bool Close() { return state.fetch_and(~kOpen, std::memory_order_acq_rel) == kOpen; }

  std::atomic<std::uint64_t> state{kOpen};
  const std::size_t limit;
  const std::size_t step;  // between two signals, and the reserve after a refusal
  const std::size_t hard;
  std::atomic<std::size_t> nextSignal;
  std::atomic<std::size_t> ceiling;
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

// Accounts are made with malloc, outside any account of their own.
ProcessMemory::Account* NewAccount(std::size_t limit) {
  void* raw = std::malloc(sizeof(ProcessMemory::Account));
  if (!raw) throw std::bad_alloc();
  return new (raw) ProcessMemory::Account(limit);
}

void FreeAccount(ProcessMemory::Account* account) {
  account->~Account();
  std::free(account);
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

ProcessMemory::ProcessMemory(std::size_t limit) : account_(NewAccount(limit)) {}

ProcessMemory::~ProcessMemory() {
  if (account_->Close()) FreeAccount(account_);
}

std::size_t ProcessMemory::InUse() const { return account_->Held(); }
std::size_t ProcessMemory::limit() const { return account_->limit; }

std::atomic<bool>* ProcessMemory::ExceededSignal() { return account_->limit == 0 ? nullptr : &account_->exceeded; }

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
