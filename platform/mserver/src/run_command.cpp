// mserver run: runs lines in-process against a data folder.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
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
    "to standard output and READ reads standard input. An error that no $ZTRAP\n"
    "catches prints its text on standard error and exits 1.\n"
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

// READ from standard input, a byte at a time so that nothing after the
// line is taken from a later READ (or from whoever reads the input next).
class StdinSource final : public mengine::InputSource {
 public:
  Input Read(std::size_t max, bool line, std::chrono::milliseconds timeout,
             const std::function<bool()>& cancelled) override {
    Input in;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (in.text.size() < max) {
      // Wait in slices of at most 100 ms, looking at `cancelled` between them.
      int wait_ms = 100;
      if (timeout.count() >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
          in.timed_out = true;
          break;
        }
        wait_ms = static_cast<int>(std::min<std::int64_t>(left.count(), 100));
      }
      pollfd fd{STDIN_FILENO, POLLIN, 0};
      const int ready = ::poll(&fd, 1, wait_ms);
      if (ready < 0 && errno != EINTR) {
        in.at_end = true;
        break;
      }
      if (ready <= 0) {
        if (cancelled()) {
          in.timed_out = true;
          break;
        }
        continue;
      }
      char c = 0;
      const ssize_t n = ::read(STDIN_FILENO, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        in.at_end = true;
        break;
      }
      if (line && c == '\n') {
        if (!in.text.empty() && in.text.back() == '\r') in.text.pop_back();
        break;
      }
      in.text.push_back(c);
    }
    return in;
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
  StdinSource in;
  int status = kExitOk;
  {
    mserver::Session session(host, ns, &out, {}, host.maxProcessMemory(), &in);
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
