// Restoring a 2,000-routine distribution into mserver over loopback, as the
// installer does (chunked upload, save line, source removal), against
// - the same restore run on mserver's host in this process, with no socket:
//   the same requests and the same work, so the difference is the link's cost;
// - the same routines saved by the server's own process with a ZR/ZI/ZS loop
//   in one request.
#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <sstream>

#include "app/startup.h"
#include "distribution/funcs.h"
#include "dorpack/package_writer.h"
#include "engine/stages.h"
#include "fakes.h"
#include "mserver/server_host.h"
#include "mserver/session.h"
#include "mserver_process.h"
#include "server/property_link.h"
#include "scripted_ui.h"
#include "server/connection.h"
#include "server/tcp_link.h"

namespace {

using namespace dorvik;

constexpr int kRoutines = 2000;
constexpr int kLines = 50;

std::vector<std::string> RoutineLines(int i) {
  std::vector<std::string> lines = {"BR" + std::to_string(i) + " ;benchmark routine"};
  for (int l = 1; l < kLines; ++l) {
    lines.push_back("L" + std::to_string(l) + " s x(" + std::to_string(l) + ")=$p(\"a^b^c\",\"^\"," +
                    std::to_string(l % 3 + 1) + ") q");
  }
  return lines;
}

// Argument 0: the server flushes to disk once a second (its default);
// 1: after every request that wrote (--flush-each-line).
std::vector<std::string> ServerArgs(const benchmark::State& state) {
  if (state.range(0) == 1) return {"--flush-each-line"};
  return {};
}

// A link that hands each request to a server process of mserver's host in
// this process, as a connection does, without the socket.
class SessionLink : public PropertyLink {
 public:
  explicit SessionLink(mserver::ServerHost& host) : session_(host, "USER", nullptr) {}
  void RunCode(const std::string& code) override {
    ClearError();
    const mlink::Answer a = session_.Run({ns_, p1_, p2_, code});
    p1_ = a.p1;
    p2_ = a.p2;
    if (!code.empty() && code[0] == '$') value_ = a.value;
    if (a.error != 0) SetError(a.error, a.errorName);
  }

 private:
  mserver::Session session_;
};

dorpack::Package BenchPackage() {
  dorpack::Package p;
  p.product.bytes = "Bench";
  p.version.bytes = "1";
  p.buildDate.bytes = "2026";
  p.password.bytes = "pw";
  for (int i = 0; i < kRoutines; ++i) {
    dorpack::RoutineSpec r;
    r.name = "BR" + std::to_string(i);
    r.lines = RoutineLines(i);
    r.file = r.name + ".m";
    p.routines.push_back(r);
  }
  return p;
}

void BM_RestoreOverLink(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "install-bench";
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir / "dorpack.dat", std::ios::binary);
    dorpack::WritePackage(BenchPackage(), out);
  }
  for (auto _ : state) {
    state.PauseTiming();
    dorvik::testing::MServerProcess server(MSERVER_BINARY, ServerArgs(state), {}, /*transcript=*/false);
    dorvik::testing::ScriptedUi ui;
    dorvik::testing::FakeClock clock;
    dorvik::testing::MemorySettings settings;
    TcpLink link;
    Session s(FileLocations::In(dir), link, ui, clock, settings);
    StartSession(s, {});
    act2goExecute(s, "127.0.0.1", std::to_string(server.Port()));
    std::vector<std::string> summary;
    act25goExecute(s, {"USER", false, false, false}, summary);
    s.options.RunPreActions = false;
    RunCheckStage(s);
    state.ResumeTiming();
    if (!RestoreDistributionRoutines(s)) state.SkipWithError("the restore failed");
  }
  state.counters["routines/s"] = benchmark::Counter(static_cast<double>(kRoutines) * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RestoreOverLink)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The same restore on mserver's host in this process.
void BM_RestoreInsideServer(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "install-bench-inside";
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir / "dorpack.dat", std::ios::binary);
    dorpack::WritePackage(BenchPackage(), out);
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::ostringstream logText;
    mserver::Log log(logText);
    mserver::HostConfig config;
    config.data = dir / "db";
    config.flushEachLine = state.range(0) == 1;
    std::filesystem::remove_all(config.data);
    {
      mserver::ServerHost host(config, log);
      dorvik::testing::ScriptedUi ui;
      dorvik::testing::FakeClock clock;
      dorvik::testing::MemorySettings settings;
      SessionLink link(host);
      Session s(FileLocations::In(dir), link, ui, clock, settings);
      StartSession(s, {});
      link.SetNamespace("USER");
      s.options.RunPreActions = false;
      RunCheckStage(s);
      state.ResumeTiming();
      if (!RestoreDistributionRoutines(s)) state.SkipWithError("the restore failed");
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  state.counters["routines/s"] = benchmark::Counter(static_cast<double>(kRoutines) * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RestoreInsideServer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The same routines saved inside one server process: one request per
// routine that builds its lines in a local array and saves them.
void BM_SaveInsideServer(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    dorvik::testing::MServerProcess server(MSERVER_BINARY, ServerArgs(state), {}, /*transcript=*/false);
    TcpLink link;
    link.SetServer(BuildServerString("127.0.0.1", std::to_string(server.Port())));
    link.SetNamespace("USER");
    // Load every routine's text into a global first, so the timed part is
    // only the server's own ZR/ZI/ZS work.
    for (int i = 0; i < kRoutines; ++i) {
      const auto lines = RoutineLines(i);
      std::string joined;
      for (const auto& l : lines) joined += (joined.empty() ? "" : "\r\n") + l;
      link.SetParam(1, "BR" + std::to_string(i));
      link.SetParam(2, joined);
      link.RunCode("s ^BENCH(P1)=P2");
    }
    state.ResumeTiming();
    link.RunCode(
        "s r=\"\" f  s r=$o(^BENCH(r)) q:r=\"\"  s t=^BENCH(r) ZR  "
        "X \"f k=1:1:$l(t,$c(13,10)) s s=$p(t,$c(13,10),k) ZI s\" X \"ZS \"_r");
    if (link.ErrorCode() != 0) state.SkipWithError(link.ErrorText().c_str());
  }
  state.counters["routines/s"] = benchmark::Counter(static_cast<double>(kRoutines) * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SaveInsideServer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
