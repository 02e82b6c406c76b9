// mserver: the M test server and its command-line tools.
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

#include "mlink/client.h"
#include "mserver/byte_store.h"
#include "mserver/server_host.h"
#include "mserver/session.h"
#include "mserver/tcp_server.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

const char* const kMainHelp =
    "usage: mserver <command> [options]\n"
    "\n"
    "The M test server: persistent globals, namespaces, routines, locks and\n"
    "jobs, served over the link protocol.\n"
    "\n"
    "commands:\n"
    "  serve   run the server until SIGINT or SIGTERM\n"
    "  call    send one line of M code to a running server\n"
    "  run     run lines of M code in-process against a data folder\n"
    "\n"
    "'mserver <command> --help' describes each command.\n";

const char* const kServeHelp =
    "usage: mserver serve --data DIR [options]\n"
    "\n"
    "Runs the server until SIGINT or SIGTERM, then stops cleanly (jobs ended,\n"
    "databases closed).\n"
    "\n"
    "  --data DIR             data folder, one database per namespace (required)\n"
    "  --listen HOST:PORT     address to listen on (default 127.0.0.1:1972)\n"
    "  --namespace NS         a namespace to serve; repeat for more (default\n"
    "                         %CACHELIB, %SYS, SAMPLES, USER; %SYS always)\n"
    "  --max-jobs N           background jobs running at most (default 32;\n"
    "                         0: JOB never starts and times out at once)\n"
    "  --advertise HOST:PORT  address announced to clients instead of the real one\n"
    "  --transcript FILE      append one line per request and its outcome\n"
    "  --max-frame BYTES      largest frame accepted (default 16777216)\n"
    "  --max-connections N    connections served at once (default 256)\n"
    "  --idle-timeout SEC     close a connection idle this long (default 3600)\n"
    "  --flush-every-second   flush updates to disk once a second instead of after\n"
    "                         each line (a killed server still loses nothing; a\n"
    "                         machine crash may lose the last second)\n";

const char* const kCallHelp =
    "usage: mserver call --connect HOST:PORT --namespace NS [--p1 V] [--p2 V] CODE\n"
    "\n"
    "Sends one request. Code beginning with '$' is an expression, anything else\n"
    "a command line. Prints the value's bytes unchanged and exits 0, or prints\n"
    "the error text on standard error and exits 1.\n"
    "\n"
    "  --connect HOST:PORT  server address (default 127.0.0.1:1972)\n"
    "  --namespace NS       namespace to run in (default USER)\n"
    "  --p1 V, --p2 V       values of the variables P1 and P2\n"
    "  --timeout SEC        longest wait for the answer (default 120)\n";

const char* const kRunHelp =
    "usage: mserver run --data DIR --namespace NS CODE...\n"
    "\n"
    "Runs the lines one after the other in one M process against the data folder,\n"
    "without a server: local variables last from one line to the next, WRITE goes\n"
    "to standard output. An error that no $ZTRAP catches prints its text on\n"
    "standard error and exits 1.\n"
    "\n"
    "  --data DIR      data folder (required)\n"
    "  --namespace NS  namespace to run in (default USER)\n"
    "  --max-jobs N    background jobs running at most (default 32)\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Walks the arguments after the command name.
class Args {
 public:
  Args(int argc, char** argv) : args_(argv + 2, argv + argc) {}
  bool Done() const { return pos_ >= args_.size(); }
  const std::string& Peek() const { return args_[pos_]; }
  std::string Take() { return args_[pos_++]; }
  std::string Value(const std::string& option) {
    if (Done()) throw UsageError("option " + option + " needs a value");
    return Take();
  }

 private:
  std::vector<std::string> args_;
  std::size_t pos_ = 0;
};

long Number(const std::string& option, const std::string& text, long min, long max) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < min || v > max) {
    throw UsageError("option " + option + ": '" + text + "' is not a number from " +
                     std::to_string(min) + " to " + std::to_string(max));
  }
  return v;
}

mlink::Endpoint EndpointOption(const std::string& option, const std::string& text) {
  try {
    return mlink::ParseEndpoint(text);
  } catch (const std::invalid_argument& e) {
    throw UsageError("option " + option + ": " + e.what());
  }
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

// Writes WRITE output straight to standard output.
class StdoutSink final : public mengine::OutputSink {
 public:
  void Write(std::string_view bytes) override {
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
  }
};

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
    } else if (a == "--namespace") {
      config.namespaces.push_back(args.Value(a));
    } else if (a == "--max-jobs") {
      config.maxJobs = static_cast<int>(Number(a, args.Value(a), 0, 100000));
    } else if (a == "--advertise") {
      options.advertise = EndpointOption(a, args.Value(a));
    } else if (a == "--transcript") {
      transcriptFile = args.Value(a);
    } else if (a == "--flush-every-second") {
      config.flushEachLine = false;
    } else if (a == "--max-frame") {
      options.maxFrame = static_cast<std::uint32_t>(Number(a, args.Value(a), 1024, 1L << 30));
    } else if (a == "--max-connections") {
      options.maxConnections = static_cast<int>(Number(a, args.Value(a), 1, 100000));
    } else if (a == "--idle-timeout") {
      options.idleTimeout = std::chrono::seconds(Number(a, args.Value(a), 1, 1L << 30));
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

int Call(Args& args) {
  mlink::Endpoint endpoint{"127.0.0.1", 1972};
  mlink::Request request;
  request.nameSpace = "USER";
  mlink::ClientOptions options;
  options.clientName = "mserver call";
  std::optional<std::string> code;
  while (!args.Done()) {
    const std::string a = args.Take();
    if (IsHelp(a)) {
      std::cout << kCallHelp;
      return kExitOk;
    } else if (a == "--connect") {
      endpoint = EndpointOption(a, args.Value(a));
    } else if (a == "--namespace") {
      request.nameSpace = args.Value(a);
    } else if (a == "--p1") {
      request.p1 = args.Value(a);
    } else if (a == "--p2") {
      request.p2 = args.Value(a);
    } else if (a == "--timeout") {
      options.callTimeout = std::chrono::seconds(Number(a, args.Value(a), 0, 1L << 30));
    } else if (a == "--") {
      if (!args.Done()) code = args.Take();
    } else if (!code && (a.empty() || a[0] != '-' || (a.size() > 1 && a[1] != '-'))) {
      // Code may begin with '-' only in odd cases ("-1"); options begin with "--".
      code = a;
    } else {
      throw UsageError("unknown option '" + a + "' for call");
    }
  }
  if (!code) throw UsageError("call needs the CODE to run");
  request.code = *code;
  mlink::Client client(options);
  try {
    client.Connect(endpoint);
    mlink::Answer answer = client.Call(request);
    if (answer.error != 0) {
      std::cerr << answer.errorName << '\n';
      return kExitError;
    }
    std::cout.write(answer.value.data(), static_cast<std::streamsize>(answer.value.size()));
    std::cout.flush();
    return kExitOk;
  } catch (const mlink::LinkError& e) {
    std::cerr << "mserver call: " << e.what() << '\n';
    return kExitError;
  }
}

int Run(Args& args) {
  mserver::HostConfig config;
  std::string ns = "USER";
  std::vector<std::string> lines;
  while (!args.Done()) {
    const std::string a = args.Take();
    if (IsHelp(a)) {
      std::cout << kRunHelp;
      return kExitOk;
    } else if (a == "--data") {
      config.data = args.Value(a);
    } else if (a == "--namespace") {
      ns = args.Value(a);
    } else if (a == "--max-jobs") {
      config.maxJobs = static_cast<int>(Number(a, args.Value(a), 0, 100000));
    } else if (a == "--") {
      while (!args.Done()) lines.push_back(args.Take());
    } else if (!a.empty() && a[0] == '-' && a.size() > 1 && a[1] == '-') {
      throw UsageError("unknown option '" + a + "' for run");
    } else {
      lines.push_back(a);
    }
  }
  if (config.data.empty()) throw UsageError("run needs --data DIR");
  if (lines.empty()) throw UsageError("run needs at least one line of CODE");
  // Serve the namespaces the folder already has (a new folder: the defaults).
  config.namespaces = mserver::NamespacesInFolder(config.data);
  mserver::Log log(std::cerr);
  mserver::ServerHost host(config, log);
  if (!host.Globals(ns)) {
    std::cerr << "<NAMESPACE> *" << mserver::NamespaceName(ns) << '\n';
    return kExitError;
  }
  StdoutSink out;
  int status = kExitOk;
  {
    mserver::Session session(host, ns, &out);
    for (const std::string& line : lines) {
      mengine::Result result = session.Execute(line);
      if (result.error) {
        std::cout.flush();
        std::cerr << result.error_text << '\n';
        status = kExitError;
        break;
      }
      if (result.halted) break;
    }
  }
  host.StopJobs(std::chrono::seconds(10));
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || IsHelp(argv[1])) {
    std::cout << kMainHelp;
    return argc < 2 ? kExitUsage : kExitOk;
  }
  const std::string command = argv[1];
  Args args(argc, argv);
  try {
    if (command == "serve") return Serve(args);
    if (command == "call") return Call(args);
    if (command == "run") return Run(args);
    std::cerr << "mserver: unknown command '" << command << "'\n\n" << kMainHelp;
    return kExitUsage;
  } catch (const UsageError& e) {
    std::cerr << "mserver " << command << ": " << e.what() << "\n(see 'mserver " << command
              << " --help')\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "mserver " << command << ": " << e.what() << '\n';
    return kExitError;
  }
}
