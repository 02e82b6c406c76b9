// mserver serve: runs the server until SIGINT or SIGTERM.
#include <pthread.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "command_line.h"
#include "mserver/server_host.h"
#include "mserver/tcp_server.h"
#include "mserver/transcript.h"

namespace mserver::cli {
namespace {

const char* const kServeHelp =
    "usage: mserver serve --data DIR [options]\n"
    "\n"
    "Runs the server until SIGINT or SIGTERM, then stops cleanly (jobs ended,\n"
    "databases closed).\n"
    "\n"
    "  --data DIR             data folder, one database per namespace (required)\n"
    "  --listen HOST:PORT     address to listen on (default 127.0.0.1:1972)\n"
    "  --allow-remote         allow --listen on an address other than loopback;\n"
    "                         the server has no authentication: any client that\n"
    "                         reaches it can read, change and plant code in\n"
    "                         every namespace\n"
    "  --namespace NS         a namespace to serve; repeat for more (default\n"
    "                         %CACHELIB, %SYS, SAMPLES, USER; %SYS always)\n"
    "  --max-jobs N           background jobs running at most (default 32;\n"
    "                         0: JOB never starts and times out at once)\n"
    "  --advertise HOST:PORT  address announced to clients as the one to use\n"
    "                         (default: none; a client keeps the address it\n"
    "                         connected to)\n"
    "  --transcript FILE      append one line per request and its outcome\n"
    "  --journal FILE         append every global update made with journaling on\n"
    "  --max-frame BYTES      largest frame accepted (default 16777216)\n"
    "  --max-connections N    connections served at once (default 256); when all\n"
    "                         are taken, the one idle longest that runs no line\n"
    "                         is closed for a new one, one that holds no lock\n"
    "                         first\n"
    "  --lock-holder-idle SEC a connection whose process holds locks may be\n"
    "                         closed for a new one once idle this long\n"
    "                         (default 10)\n"
    "  --idle-timeout SEC     close a connection idle this long (default 1800)\n"
    "  --max-process-memory BYTES\n"
    "                         memory one M process may hold before <STORE>\n"
    "                         (default 268435456; 0: no limit)\n"
    "  --max-server-memory BYTES\n"
    "                         memory all M processes together may hold; beyond\n"
    "                         it the process that asks gets <STORE> (default: a\n"
    "                         quarter of the machine's memory, at most\n"
    "                         1073741824; 0: no limit)\n"
    "  --max-job-output BYTES WRITE output of one job that reaches the log; the\n"
    "                         rest is dropped and counted (default 1048576)\n"
    "  --flush-each-line      flush a line's updates to disk before its answer,\n"
    "                         safe even against a machine crash (default: once a\n"
    "                         second; a killed server loses nothing either way)\n"
    "  --flush-every-second   the default, accepted for older scripts\n";

// A memory limit: at least 1 MiB, or 0 for none.
std::size_t MemoryOption(const std::string& option, const std::string& text) {
  const long bytes = Number(option, text, 0, 1L << 40);
  if (bytes != 0 && bytes < (1L << 20)) {
    throw UsageError("option " + option + ": at least 1048576 bytes, or 0 for no limit");
  }
  return static_cast<std::size_t>(bytes);
}

std::string LimitText(std::size_t bytes) { return bytes == 0 ? "none" : std::to_string(bytes) + " bytes"; }

}  // namespace

int Serve(Args& args) {
  mserver::HostConfig config;
  mserver::ServerOptions options;
  std::optional<std::string> transcriptFile;
  while (!args.Done()) {
    const std::string a = args.Take();
    if (IsHelp(a)) {
      std::cout << kServeHelp;
      return kExitOk;
    } else if (a == "--data") {
      config.data = args.Value(a);
    } else if (a == "--listen") {
      options.listen = EndpointOption(a, args.Value(a));
    } else if (a == "--allow-remote") {
      options.allowRemote = true;
    } else if (a == "--namespace") {
      config.namespaces.push_back(args.Value(a));
    } else if (a == "--max-jobs") {
      config.maxJobs = static_cast<int>(Number(a, args.Value(a), 0, 100000));
    } else if (a == "--advertise") {
      options.advertise = EndpointOption(a, args.Value(a));
    } else if (a == "--transcript") {
      transcriptFile = args.Value(a);
    } else if (a == "--journal") {
      config.journal = args.Value(a);
    } else if (a == "--flush-each-line") {
      config.flushEachLine = true;
    } else if (a == "--flush-every-second") {
      config.flushEachLine = false;
    } else if (a == "--max-frame") {
      options.maxFrame = static_cast<std::uint32_t>(Number(a, args.Value(a), 1024, 1L << 30));
    } else if (a == "--max-connections") {
      options.maxConnections = static_cast<int>(Number(a, args.Value(a), 1, 100000));
    } else if (a == "--lock-holder-idle") {
      options.lockHolderIdle = std::chrono::seconds(Number(a, args.Value(a), 1, 1L << 30));
    } else if (a == "--idle-timeout") {
      options.idleTimeout = std::chrono::seconds(Number(a, args.Value(a), 1, 1L << 30));
    } else if (a == "--max-process-memory") {
      config.maxProcessMemory = MemoryOption(a, args.Value(a));
    } else if (a == "--max-server-memory") {
      config.maxServerMemory = MemoryOption(a, args.Value(a));
    } else if (a == "--max-job-output") {
      config.maxJobOutput = static_cast<std::size_t>(Number(a, args.Value(a), 0, 1L << 40));
    } else {
      throw UsageError("unknown option '" + a + "' for serve");
    }
  }
  if (config.data.empty()) throw UsageError("serve needs --data DIR");

  // SIGINT and SIGTERM are taken by a thread of their own, so that every
  // other thread runs undisturbed and the stop happens in ordinary code.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  mserver::Log log(std::cerr);
  std::unique_ptr<mserver::Transcript> transcript;
  if (transcriptFile) transcript = std::make_unique<mserver::Transcript>(*transcriptFile);
  mserver::ServerHost host(config, log);
  mserver::TcpServer server(host, options, transcript.get());
  server.Listen();
  log.Line(std::string(mserver::kServerVersion) + " serving data folder " + config.data.string());
  log.Line("memory limits: " + LimitText(config.maxProcessMemory) + " per process, " +
           LimitText(config.maxServerMemory) + " for all processes together");

  std::thread signals([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    if (signal != 0) log.Line(std::string("received ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    server.Stop();
  });
  server.Run();
  // Wake the signal thread when the server ended for another reason.
  pthread_kill(signals.native_handle(), SIGTERM);
  signals.join();
  host.StopJobs(std::chrono::seconds(10));
  log.Line("stopped");
  return kExitOk;
}

}  // namespace mserver::cli
