// M programs timed in this engine (in-memory host) and in GT.M (mumps -run)
// side by side. Each benchmark reports the GT.M time of the same line
// (gtm_ms, measured inside GT.M with $ZUT) and ratio = engine / GT.M.
// Without GT.M installed the ratio counters are left out.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "gtm_location.h"
#include "mengine/memory_host.h"
#include "mengine/process.h"

namespace {

namespace fs = std::filesystem;
using dorvik::testing::FindGtm;

struct Program {
  const char* name;
  const char* setup;  // run once before timing (not timed)
  const char* line;   // the timed line
};

const Program kPrograms[] = {
    {"local_loop", "", "s s=0 f i=1:1:1000000 s s=s+i,x(i#100)=s"},
    {"piece_parse", "s r=\"\" f j=1:1:100 s r=r_\"field\"_j_\"^\"",
     "s n=0 f k=1:1:2000 f j=1:1:100 s f=$p(r,\"^\",j),n=n+$l(f)"},
    {"string_build", "", "s s=\"\" f i=1:1:200000 s s=s_\"ab\"_(i#10) s l=$l(s)"},
    {"global_set_order", "k ^B",
     "k ^B x \"f i=1:1:200000 s ^B(i#1000,i)=i\" s t=0,a=\"\" f  s a=$o(^B(a)) q:a=\"\"  s b=\"\" f  s b=$o(^B(a,b)) "
     "q:b=\"\"  s t=t+^B(a,b)"},
};

// GT.M, set up once: a routine with a timing label per program and a global
// directory in a temporary folder. Empty when GT.M is not installed.
class Gtm {
 public:
  Gtm() {
    const std::string dist = FindGtm();
    if (dist.empty()) {
      std::fprintf(stderr, "GT.M not installed (Debian package fis-gtm): no ratios\n");
      return;
    }
    dir_ = fs::temp_directory_path() / "mengine-bench-gtm";
    fs::create_directories(dir_);
    std::ofstream m(dir_ / "bench.m");
    m << "bench ; timing driver\n";
    int n = 0;
    for (const auto& p : kPrograms) {
      ++n;
      m << "L" << n << " " << p.setup << "\n";
      m << " s best=\"\" f rep=1:1:3 s t0=$zut d B" << n << " s t=$zut-t0 s:best=\"\"!(t<best) best=t\n";
      m << " w \"" << p.name << " \",best,! q\n";
      m << "B" << n << " " << p.line << "\n q\n";
    }
    m.close();
    env_ = "cd " + dir_.string() + " && export gtm_dist=" + dist + " gtmroutines='" + dir_.string() + " " + dist +
           "/libgtmutil.so' gtmgbldir=" + (dir_ / "g.gld").string() + " && ";
    const std::string setup =
        env_ + "rm -f g.gld g.dat && printf 'change -segment DEFAULT -file_name=" + (dir_ / "g.dat").string() +
        "\\nexit\\n' | $gtm_dist/mumps -run GDE >/dev/null 2>&1 && $gtm_dist/mupip create >/dev/null 2>&1";
    if (std::system(setup.c_str()) != 0) env_.clear();
  }
  ~Gtm() {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // GT.M's time of one program in seconds (best of three); 0 when unknown.
  // Each program is timed right after the engine ran it, so that both see
  // the machine in the same state.
  double Time(const Program& program) const {
    if (env_.empty()) return 0;
    const int label = static_cast<int>(&program - kPrograms) + 1;
    FILE* pipe = popen((env_ + "$gtm_dist/mumps -run L" + std::to_string(label) + "^bench 2>&1").c_str(), "r");
    if (!pipe) return 0;
    char name[64];
    double micros = 0;
    const bool read = std::fscanf(pipe, "%63s %lf", name, &micros) == 2 && program.name == std::string(name);
    pclose(pipe);
    return read ? micros / 1e6 : 0;
  }

 private:
  fs::path dir_;
  std::string env_;
};

const Gtm& TheGtm() {
  static const Gtm gtm;
  return gtm;
}

void RunProgram(benchmark::State& state, const Program& program) {
  mengine::MemoryHost host;
  mengine::Process p(host, {});
  if (*program.setup) p.Execute(program.setup);
  for (auto _ : state) {
    auto r = p.Execute(program.line);
    if (r.error) {
      state.SkipWithError(r.error_text.c_str());
      return;
    }
  }
  if (const double gtm = TheGtm().Time(program); gtm > 0) {
    state.counters["gtm_ms"] = gtm * 1000;
    state.counters["ratio"] =
        benchmark::Counter(gtm, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (const auto& p : kPrograms)
    benchmark::RegisterBenchmark(p.name, [&p](benchmark::State& s) { RunProgram(s, p); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  benchmark::Initialize(&argc, argv);
  TheGtm();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
