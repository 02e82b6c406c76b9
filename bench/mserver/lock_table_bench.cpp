// What a LOCK and its release cost while many locks are held, run by hand:
//
//   lock_table_bench [--benchmark_filter=...]
//
// BM_LockWhileHolding/<table>/N: one owner holds N locks ^A(1..N); the time is
//   one Acquire and one Release, by that owner (a further ^A node) and by
//   another owner (^B). The in-memory host's table (a list searched whole at
//   every call) is measured beside the server's for comparison.
// BM_MLockLoop/N: one server process runs f i=1:1:N l +^A(i) and then an
//   argumentless LOCK, in process against a fresh data folder: the whole
//   cost of taking N locks one by one, as a client's line would.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mengine/host.h"
#include "mengine/keycodec.h"
#include "mengine/memory_host.h"
#include "mserver/server_host.h"
#include "mserver/server_locks.h"
#include "mserver/session.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Resource(const std::string& global, long subscript) {
  std::string key = mengine::keycodec::EncodeName(global);
  mengine::keycodec::AppendSubscript(key, std::to_string(subscript));
  return mengine::LockResource("USER", key);
}

template <class Table>
void BM_LockWhileHolding(benchmark::State& state) {
  Table table;
  const long held = state.range(0);
  for (long i = 1; i <= held; ++i) {
    const std::string r = Resource("^A", i);
    table.Acquire(1, std::span(&r, 1), std::chrono::milliseconds(0), {});
  }
  const std::string own = Resource("^A", held + 1);
  const std::string other = Resource("^B", 1);
  for (auto _ : state) {
    if (!table.Acquire(1, std::span(&own, 1), std::chrono::milliseconds(0), {})) state.SkipWithError("own lock");
    table.Release(1, own);
    if (!table.Acquire(2, std::span(&other, 1), std::chrono::milliseconds(0), {})) state.SkipWithError("other lock");
    table.Release(2, other);
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_LockWhileHolding<mserver::ServerLockTable>)->Arg(1000)->Arg(10000)->Arg(40000)->Arg(200000);
BENCHMARK(BM_LockWhileHolding<mengine::MemoryLockTable>)->Arg(1000)->Arg(10000)->Arg(40000);

void BM_MLockLoop(benchmark::State& state) {
  std::random_device rd;
  const fs::path data = fs::temp_directory_path() / ("mserver-lock-bench-" + std::to_string(rd()));
  std::ostringstream logText;
  mserver::Log log(logText);
  {
    mserver::HostConfig config;
    config.data = data;
    mserver::ServerHost host(config, log);
    mserver::Session session(host, "USER", nullptr);
    const std::string loop = "f i=1:1:" + std::to_string(state.range(0)) + " l +^A(i)";
    for (auto _ : state) {
      const auto start = Clock::now();
      const mengine::Result taken = session.Execute(loop);
      const mengine::Result released = session.Execute("l");
      state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
      if (taken.error || released.error) state.SkipWithError(taken.error_text.c_str());
    }
  }
  fs::remove_all(data);
}
BENCHMARK(BM_MLockLoop)
    ->Arg(5000)
    ->Arg(40000)
    ->Arg(200000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
