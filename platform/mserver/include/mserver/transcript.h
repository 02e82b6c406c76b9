// The request transcript: one line per request with what it asked and what
// came of it, appended to a file. Fields are separated by tabs; within a
// field, tab, CR, LF, backslash and other control bytes are written as \t,
// \r, \n, \\ and \xNN, so that one request is always one line. Other bytes
// (code page 866 text) are written unchanged.
//
//   <UTC time> \t job=<$JOB> \t ns=<namespace> \t journal=on|off \t
//   P1=<P1> \t P2=<P2> \t code=<code> \t
//   ok value=<value> | error=<error text> \t updates=<journaled>/<unjournaled>
#pragma once

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "mlink/messages.h"
#include "mserver/session.h"

namespace mserver {

std::string EscapeField(std::string_view bytes);

class Transcript {
 public:
  // Opens the file for appending; throws std::runtime_error when it cannot.
  explicit Transcript(const std::filesystem::path& file);

  void Record(std::uint64_t job, const RequestReport& report, const mlink::Request& request,
              const mlink::Answer& answer);

 private:
  std::mutex mutex_;
  std::ofstream out_;
};

}  // namespace mserver
