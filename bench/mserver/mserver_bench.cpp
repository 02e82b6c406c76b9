// Round trips per second of a trivial line over loopback, and loading 2,000
// routines of 50 lines through the link's upload protocol versus saving the
// same routines in-process with a ZR/ZI/ZS loop.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "mlink/client.h"
#include "mserver/server_host.h"
#include "mserver/session.h"
#include "mserver/tcp_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A server in this process on a free loopback port, with a fresh data folder.
class LocalServer {
 public:
  explicit LocalServer(bool flushEachLine = false) : log_(logText_) {
    std::random_device rd;
    data_ = fs::temp_directory_path() / ("mserver-bench-" + std::to_string(rd()));
    mserver::HostConfig config;
    config.data = data_;
    config.flushEachLine = flushEachLine;
    host_ = std::make_unique<mserver::ServerHost>(config, log_);
    mserver::ServerOptions options;
    options.listen = {"127.0.0.1", 0};
    server_ = std::make_unique<mserver::TcpServer>(*host_, options, nullptr);
    server_->Listen();
    thread_ = std::thread([this] { server_->Run(); });
  }
  ~LocalServer() {
    server_->Stop();
    thread_.join();
    server_.reset();
    host_.reset();
    fs::remove_all(data_);
  }
  mlink::Endpoint endpoint() const { return server_->bound(); }
  mserver::ServerHost& host() { return *host_; }

 private:
  std::ostringstream logText_;
  mserver::Log log_;
  fs::path data_;
  std::unique_ptr<mserver::ServerHost> host_;
  std::unique_ptr<mserver::TcpServer> server_;
  std::thread thread_;
};

void BM_RoundTrip(benchmark::State& state) {
  LocalServer server;
  mlink::Client client;
  client.Connect(server.endpoint());
  const mlink::Request request{"USER", "1", "", "s x=P1"};
  for (auto _ : state) {
    mlink::Answer a = client.Call(request);
    if (a.error) state.SkipWithError(a.errorName.c_str());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoundTrip)->UseRealTime();

constexpr int kRoutines = 2000;
constexpr int kLines = 50;

std::vector<std::string> MakeRoutine(int n) {
  std::vector<std::string> lines;
  const std::string name = "BR" + std::to_string(n);
  lines.push_back(name);
  lines.push_back(name + " ;benchmark routine " + std::to_string(n));
  for (int i = 2; i <= kLines; ++i) {
    lines.push_back("l" + std::to_string(i) + "(a,b) s x=a+b_\"" + std::string(20, 'x') + "\" q x ; line " +
                    std::to_string(i));
  }
  return lines;
}

std::string SaveLine(const std::string& name) {
  return "k ^rMAC(\"" + name + "\") " +
         "ZR  X \"s i=\"\"\"\",q=$C(13,10) f  s i=$o(text(i)) Q:i=\"\"\"\"  s s=\"\"\"\" f "
         "k=1:1:$l(text(i),q) s s=$p(text(i),q,k) ZI s\" ZS " +
         name;
}

// The installer's upload: one chunk per routine (all below 32,700 bytes).
double LoadOverLink(mlink::Client& client) {
  const auto start = Clock::now();
  for (int n = 0; n < kRoutines; ++n) {
    const auto lines = MakeRoutine(n);
    std::string chunk = lines[1];
    for (int i = 2; i <= kLines; ++i) chunk += "\r\n" + lines[i];
    client.Call({"USER", "", "", "n text,i,k,q"});
    client.Call({"USER", "1", chunk, "s text(P1)=P2"});
    client.Call({"USER", "", "", SaveLine(lines[0])});
    client.Call({"USER", "", "", "k text"});
    client.Call({"USER", lines[0], "", "k ^ROUTINE(P1)"});
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The same routines saved in-process: ZR, one ZI per line, ZS.
double SaveInProcess(mserver::ServerHost& host) {
  mserver::Session session(host, "USER", nullptr);
  const auto start = Clock::now();
  for (int n = 0; n < kRoutines; ++n) {
    const auto lines = MakeRoutine(n);
    session.Run({"", "", "", "ZR"});
    for (int i = 1; i <= kLines; ++i) session.Run({"", lines[i], "", "ZI P1"});
    session.Run({"", "", "", "ZS " + lines[0]});
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Argument 1: every line's updates flushed to disk before the answer
// (--flush-each-line); 0: flushed once a second (the default).
void BM_LoadRoutines(benchmark::State& state) {
  for (auto _ : state) {
    LocalServer server(state.range(0) != 0);
    mlink::Client client;
    client.Connect(server.endpoint());
    const double link = LoadOverLink(client);
    const double local = SaveInProcess(server.host());
    state.SetIterationTime(link);
    state.counters["link_s"] = link;
    state.counters["inprocess_s"] = local;
    state.counters["ratio"] = link / local;
    state.counters["link_routines_per_s"] = kRoutines / link;
  }
}
BENCHMARK(BM_LoadRoutines)->Arg(1)->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
