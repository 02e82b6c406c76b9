// mserver run: runs lines in-process against a data folder.
#include <iostream>

#include "command_line.h"
#include "mengine/process.h"
#include "mserver/server_host.h"
#include "mserver/session.h"

namespace mserver::cli {
namespace {

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

// Writes WRITE output straight to standard output.
class StdoutSink final : public mengine::OutputSink {
 public:
  void Write(std::string_view bytes) override {
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
  }
};

}  // namespace

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

}  // namespace mserver::cli
