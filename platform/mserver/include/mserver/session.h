// One server process: an M process with its own locals, namespace, locks and
// journaling switch, running link requests one after the other. A connection
// owns one; `mserver run` uses one without a connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mengine/process.h"
#include "mlink/messages.h"
#include "mserver/process_memory.h"
#include "mserver/server_host.h"

namespace mserver {

struct ProcessActivity;

// What one request did, for the transcript.
struct RequestReport {
  std::string nameSpace;   // where the code ran
  bool journaling = true;  // journaling state when the code started
  std::uint64_t journaled = 0;
  std::uint64_t unjournaled = 0;
};

class Session {
 public:
  // `maxMemory`: what the process may hold (ProcessMemory); 0 for no limit.
  // The process is charged to the host's ServerMemory as well.
  // `input` is the process's principal device for READ (null: none, READ is
  // <NOTOPEN>, as for every connection).
  Session(ServerHost& host, std::string nameSpace, mengine::OutputSink* output, mengine::Limits limits = {},
          std::size_t maxMemory = 0, mengine::InputSource* input = nullptr);
  ~Session();  // ends the process: its locks are released
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Switches namespace when asked, sets P1 and P2, runs the code ("$..." as an
  // expression), makes the line's updates durable, and answers.
  mlink::Answer Run(const mlink::Request& request, RequestReport* report = nullptr);

  // Runs one command line as `mserver run` does (no P1/P2).
  mengine::Result Execute(std::string_view line);

  std::uint64_t job() const;
  bool halted() const;
  std::string nameSpace() const;
  bool journaling() const;

  // From another thread: makes a running line stop soon with an error.
  void RequestStop();

 private:
  void SetParameter(const char* name, const std::string& value, bool kept);

  ServerHost& host_;
  ProcessMemory memory_;  // declared first: the process's memory is charged to it
  std::unique_ptr<ProcessActivity> activity_;
  std::unique_ptr<mengine::Process> process_;
};

}  // namespace mserver
