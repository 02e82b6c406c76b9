// Reading a distribution through the installer's reader against a plain
// sequential read of the same file, for a 10 MB and a 100 MB file, the
// check of the publisher's signature of such a distribution, and the peak
// memory of each, measured in a fresh child process per file so that the
// generated data of this process does not count.
//
//   reader_bench [benchmark options]
//   reader_bench --peak-rss installation|plain|signature|none FILE   (the child's side)
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "distribution/reader.h"
#include "generated_distribution.h"
#include "installation_read.h"
#include "signed_folder.h"

namespace {

using reader_bench::GeneratedDistribution;

void BM_InstallationRead(benchmark::State& state) {
  const auto& file = GeneratedDistribution(static_cast<int>(state.range(0)));
  reader_bench::ReadTotals totals;
  for (auto _ : state) {
    totals = reader_bench::ReadAsInstallation(file);
    benchmark::DoNotOptimize(totals);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(file)));
  state.counters["routines"] = static_cast<double>(totals.routines);
  state.counters["lines"] = static_cast<double>(totals.lines);
}

// The same reading order, records handled another way: range(1) is a
// reader_bench::RecordHandling (1 read only, 2 whole record decoded at once).
void BM_InstallationReadVariant(benchmark::State& state) {
  const auto& file = GeneratedDistribution(static_cast<int>(state.range(0)));
  const auto handling = static_cast<reader_bench::RecordHandling>(state.range(1));
  for (auto _ : state) {
    auto totals = reader_bench::ReadAsInstallation(file, handling);
    benchmark::DoNotOptimize(totals);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(file)));
  state.SetLabel(handling == reader_bench::RecordHandling::kReadOnly ? "records read, not decoded"
                                                                     : "each record decoded at once");
}

// The header alone: for a file with an integrity marker (every dorpack
// file) this is the read-ahead that hashes and counts the rest of the file.
void BM_HeaderWithIntegrityCheck(benchmark::State& state) {
  const auto& file = GeneratedDistribution(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    dorvik::DistributionReader reader(file);
    dorvik::Distribution dist;
    dorvik::InstallLog log;
    if (!reader.ReadHeader(dist, log) || !reader.Integrity()) state.SkipWithError("the file was not verified");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(file)));
}

// The signature check of start-up on a signed folder holding the generated
// file: one SHA-256 read of every listed file and the Ed25519 check of the
// list. Its cost beside BM_PlainRead is the hashing of that one read.
void BM_SignatureCheck(benchmark::State& state) {
  const auto& file = GeneratedDistribution(static_cast<int>(state.range(0)));
  const auto& folder = reader_bench::SignedFolder(file);
  for (auto _ : state) {
    const auto result = reader_bench::CheckSignedFolder(folder);
    if (result.status != dorvik::signing::SignatureStatus::kVerifiedTrusted) {
      state.SkipWithError("the signature was not verified");
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(file)));
}

void BM_PlainRead(benchmark::State& state) {
  const auto& file = GeneratedDistribution(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto totals = reader_bench::ReadPlain(file);
    benchmark::DoNotOptimize(totals);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(file)));
}

// Runs this program as a child that reads the file one way and reports its
// peak resident set size in KiB.
long ChildPeakKiB(const char* mode, const std::filesystem::path& file) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return -1;
  self[n] = '\0';
  const std::string command = std::string("'") + self + "' --peak-rss " + mode + " '" + file.string() + "'";
  std::FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return -1;
  long kib = -1;
  if (std::fscanf(child, "%ld", &kib) != 1) kib = -1;
  return pclose(child) == 0 ? kib : -1;
}

void BM_PeakMemory(benchmark::State& state) {
  const auto& file = GeneratedDistribution(static_cast<int>(state.range(0)));
  const auto& signedFolder = reader_bench::SignedFolder(file);
  long installation = 0, plain = 0, signature = 0, none = 0;
  for (auto _ : state) {
    installation = ChildPeakKiB("installation", file);
    plain = ChildPeakKiB("plain", file);
    signature = ChildPeakKiB("signature", signedFolder);
    none = ChildPeakKiB("none", file);
  }
  if (installation < 0 || plain < 0 || signature < 0 || none < 0) state.SkipWithError("the measuring child failed");
  state.counters["installation_peak_KiB"] = static_cast<double>(installation);
  state.counters["plain_peak_KiB"] = static_cast<double>(plain);
  state.counters["signature_check_peak_KiB"] = static_cast<double>(signature);
  state.counters["idle_peak_KiB"] = static_cast<double>(none);
}

BENCHMARK(BM_InstallationRead)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InstallationReadVariant)->ArgsProduct({{10, 100}, {1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeaderWithIntegrityCheck)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SignatureCheck)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeakMemory)->Arg(10)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);

int MeasurePeak(const std::string& mode, const std::filesystem::path& file) {
  try {
    if (mode == "installation") {
      benchmark::DoNotOptimize(reader_bench::ReadAsInstallation(file));
    } else if (mode == "plain") {
      benchmark::DoNotOptimize(reader_bench::ReadPlain(file));
    } else if (mode == "signature") {
      benchmark::DoNotOptimize(reader_bench::CheckSignedFolder(file));
    } else if (mode != "none") {
      return 2;
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%ld\n", usage.ru_maxrss);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--peak-rss") == 0) return MeasurePeak(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
