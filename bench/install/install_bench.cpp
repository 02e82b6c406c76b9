// Restoring a 2,000-routine distribution into mserver over loopback, as the
// installer does (chunked upload, save line, source removal), against
// - vs_inside: the same restore run on mserver's host in this process, with no
//   socket: the same requests and the same work, so the ratio is the link's cost;
// - vs_zrzizs: the same routines saved by the server's own process with a
//   ZR/ZI/ZS loop in one request.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
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
#include "link/property_link.h"
#include "scripted_ui.h"
#include "engine/connection.h"
#include "link/tcp_link.h"

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

using Seconds = double;
using Clock = std::chrono::steady_clock;

Seconds Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The installer's restore over loopback into a fresh mserver process.
Seconds RestoreOverLink(const std::filesystem::path& dir, const std::vector<std::string>& serverArgs) {
  dorvik::testing::MServerProcess server(MSERVER_BINARY, serverArgs, {}, /*transcript=*/false);
  dorvik::testing::ScriptedUi ui;
  dorvik::testing::FakeClock clock;
  dorvik::testing::MemorySettings settings;
  TcpLink link;
  Session s(FileLocations::In(dir), link, ui, clock, settings);
  StartSession(s, {});
  ConnectToServer(s, "127.0.0.1", std::to_string(server.Port()));
  std::vector<std::string> summary;
  SwitchToNamespace(s, {"USER", false, false, false}, summary);
  s.options.RunPreActions = false;
  RunCheckStage(s);
  const auto start = Clock::now();
  if (!RestoreDistributionRoutines(s)) throw std::runtime_error("the restore over the link failed");
  return Since(start);
}

// The same restore on mserver's host in this process, with a fresh data folder.
Seconds RestoreInsideServer(const std::filesystem::path& dir, bool flushEachLine) {
  std::ostringstream logText;
  mserver::Log log(logText);
  mserver::HostConfig config;
  config.data = dir / "db";
  config.flushEachLine = flushEachLine;
  std::filesystem::remove_all(config.data);
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
  const auto start = Clock::now();
  if (!RestoreDistributionRoutines(s)) throw std::runtime_error("the restore inside the server failed");
  return Since(start);
}

// The same routines saved by one server process: one request that walks a
// global holding every routine's text and saves each with ZR/ZI/ZS.
Seconds SaveInsideServer(const std::vector<std::string>& serverArgs) {
  dorvik::testing::MServerProcess server(MSERVER_BINARY, serverArgs, {}, /*transcript=*/false);
  TcpLink link;
  link.SetServer(BuildServerString("127.0.0.1", std::to_string(server.Port())));
  link.SetNamespace("USER");
  for (int i = 0; i < kRoutines; ++i) {
    const auto lines = RoutineLines(i);
    std::string joined;
    for (const auto& l : lines) joined += (joined.empty() ? "" : "\r\n") + l;
    link.SetParam(1, "BR" + std::to_string(i));
    link.SetParam(2, joined);
    link.RunCode("s ^BENCH(P1)=P2");
  }
  const auto start = Clock::now();
  link.RunCode(
      "s r=\"\" f  s r=$o(^BENCH(r)) q:r=\"\"  s t=^BENCH(r) ZR  "
      "X \"f k=1:1:$l(t,$c(13,10)) s s=$p(t,$c(13,10),k) ZI s\" X \"ZS \"_r");
  if (link.ErrorCode() != 0) throw std::runtime_error(link.ErrorText());
  return Since(start);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Each iteration times the three one after the other, so that the ratios
// compare runs made in the same moments of a machine whose speed drifts.
// The reported time is the restore over the link.
void BM_Restore(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "install-bench";
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir / "dorpack.dat", std::ios::binary);
    dorpack::WritePackage(BenchPackage(), out);
  }
  const bool flushEachLine = state.range(0) == 1;
  const std::vector<std::string> args = ServerArgs(state);
  Seconds link = 0, inside = 0, save = 0;
  std::vector<double> pairedInside, pairedZrzizs;
  try {
    for (auto _ : state) {
      const Seconds l = RestoreOverLink(dir, args);
      const Seconds i = RestoreInsideServer(dir, flushEachLine);
      const Seconds z = SaveInsideServer(args);
      link += l;
      inside += i;
      save += z;
      pairedInside.push_back(l / i);
      pairedZrzizs.push_back(l / z);
      state.SetIterationTime(l);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["routines/s"] = kRoutines * n / link;
  state.counters["inside_ms"] = 1000 * inside / n;
  state.counters["zrzizs_ms"] = 1000 * save / n;
  state.counters["vs_inside"] = link / inside;
  state.counters["vs_zrzizs"] = link / save;
  // The ratios of each iteration's own three runs, their median: a machine
  // whose speed drifts from one iteration to the next moves it less.
  state.counters["vs_inside_med"] = Median(pairedInside);
  state.counters["vs_zrzizs_med"] = Median(pairedZrzizs);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Restore)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(7)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
