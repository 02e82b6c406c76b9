// plan, an installation with and without the backup, verify and rollback
// for a 2,000-routine distribution into mserver over loopback, through the
// same core calls as dorvik-cli. Half of the routines are on the server
// beforehand in an older version, so the backup and the rollback have work
// of both kinds (routines to keep and put back, new routines to remove).
//
// Each iteration starts a fresh server and reports, in milliseconds:
// plan_ms, install_ms (check stage and restore, no backup), backup_ms (what
// --backup adds), install_backup_ms (the two together), verify_ms and
// rollback_ms. The reported time is install_backup_ms.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>

#include "app/startup.h"
#include "distribution/funcs.h"
#include "dorpack/package_writer.h"
#include "engine/backup.h"
#include "engine/connection.h"
#include "engine/distribution_scan.h"
#include "engine/plan.h"
#include "engine/stages.h"
#include "engine/upload.h"
#include "fakes.h"
#include "link/tcp_link.h"
#include "mserver_process.h"
#include "scripted_ui.h"

namespace {

using namespace dorvik;

constexpr int kRoutines = 2000;
constexpr int kLines = 50;

std::vector<std::string> RoutineLines(int i, const char* version) {
  std::vector<std::string> lines = {"SB" + std::to_string(i), "SB" + std::to_string(i) + " ;" + version};
  for (int l = 1; l < kLines; ++l) {
    lines.push_back("L" + std::to_string(l) + " s x(" + std::to_string(l) + ")=$p(\"a^b^c\",\"^\"," +
                    std::to_string(l % 3 + 1) + ") q");
  }
  return lines;
}

dorpack::Package BenchPackage() {
  dorpack::Package p;
  p.product.bytes = "Bench";
  p.version.bytes = "2";
  p.buildDate.bytes = "2026";
  p.password.bytes = "pw";
  for (int i = 0; i < kRoutines; ++i) {
    dorpack::RoutineSpec r;
    r.name = "SB" + std::to_string(i);
    const auto lines = RoutineLines(i, "new");
    r.lines.assign(lines.begin() + 1, lines.end());
    r.file = r.name + ".m";
    p.routines.push_back(r);
  }
  return p;
}

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

struct Times {
  double plan = 0, install = 0, backup = 0, verify = 0, rollback = 0;
};

// A session connected to USER of `server`, as dorvik-cli opens one.
struct Connected {
  Connected(const std::filesystem::path& dir, int port) : s(FileLocations::In(dir), link, ui, clock, settings) {
    StartSession(s, {});
    s.options.RunPreActions = false;
    s.options.RunPostActions = false;
    ConnectToServer(s, "127.0.0.1", std::to_string(port));
    std::vector<std::string> summary;
    if (!SwitchToNamespace(s, {"USER", false, false, true}, summary)) throw std::runtime_error("no namespace");
  }
  dorvik::testing::ScriptedUi ui;
  dorvik::testing::FakeClock clock;
  dorvik::testing::MemorySettings settings;
  TcpLink link;
  Session s;
};

// Half of the routines in an older version, saved as the installer saves them.
void InstallOldVersions(Session& s) {
  for (int i = 0; i < kRoutines; i += 2) {
    if (UploadRoutineLines(s, RoutineLines(i, "old")) != UploadResult::Stored) throw std::runtime_error("setup");
  }
}

// Installs into a fresh server, with or without the backup first.
Times Run(const std::filesystem::path& dir, bool backup) {
  dorvik::testing::MServerProcess server(MSERVER_BINARY, {}, {}, /*transcript=*/false);
  Times t;
  {
    Connected c(dir, server.Port());
    InstallOldVersions(c.s);
  }
  {
    Connected c(dir, server.Port());
    auto start = Clock::now();
    const InstallPlan plan = BuildPlan(c.s);
    t.plan = Ms(start);
    if (plan.Count(RoutineState::New) != kRoutines / 2) throw std::runtime_error("the plan is wrong");
  }
  Connected c(dir, server.Port());
  std::string id;
  auto start = Clock::now();
  if (backup) {
    const std::vector<std::string> names = RoutineNames(c.s.reader.DataFile());
    id = BeginBackupSet(c.link, c.s.dist, names.size());
    const int existed = BackupRoutines(c.link, id, names);
    if (FinishBackupSet(c.link, id).count != static_cast<int>(names.size()))
      throw std::runtime_error("the set is incomplete");
    if (existed != kRoutines / 2) throw std::runtime_error("the backup is wrong");
    t.backup = Ms(start);
  }
  start = Clock::now();
  if (!RunCheckStage(c.s) || !RestoreDistributionRoutines(c.s)) throw std::runtime_error("the installation failed");
  t.install = Ms(start);
  start = Clock::now();
  if (VerifyInstallation(c.s).Mismatches() != 0) throw std::runtime_error("verify found a mismatch");
  t.verify = Ms(start);
  if (backup) {
    start = Clock::now();
    if (RollBack(c.link, id).Done() != kRoutines) throw std::runtime_error("the rollback is wrong");
    t.rollback = Ms(start);
  }
  return t;
}

void BM_SafeInstall(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "safe-install-bench";
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir / "dorpack.dat", std::ios::binary);
    dorpack::WritePackage(BenchPackage(), out);
  }
  Times sum, sumPlain;
  try {
    for (auto _ : state) {
      const Times plain = Run(dir, false);
      const Times t = Run(dir, true);
      sumPlain.install += plain.install;
      sum.plan += t.plan;
      sum.install += t.install;
      sum.backup += t.backup;
      sum.verify += t.verify;
      sum.rollback += t.rollback;
      state.SetIterationTime((t.backup + t.install) / 1000);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["plan_ms"] = sum.plan / n;
  state.counters["install_ms"] = sumPlain.install / n;
  state.counters["backup_ms"] = sum.backup / n;
  state.counters["install_backup_ms"] = (sum.backup + sum.install) / n;
  state.counters["verify_ms"] = sum.verify / n;
  state.counters["rollback_ms"] = sum.rollback / n;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SafeInstall)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
