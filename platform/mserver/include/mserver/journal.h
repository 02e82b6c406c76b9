// The journal: one line per global update made by a process whose
// journaling is on, appended to a file. Updates made with journaling off
// (between DISABLE^%NOJRN and ENABLE^%NOJRN) are counted but not written.
//
//   <UTC time> \t job=<$JOB> \t ns=<namespace> \t SET|KILL \t <reference> [\t value=<value>]
//
// The reference is written in M syntax (^R("dorvik",1)); fields are escaped
// as in the transcript.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>

namespace mserver {

class Journal {
 public:
  // Opens the file for appending; throws std::runtime_error when it cannot.
  explicit Journal(const std::filesystem::path& file);

  void Set(std::uint64_t job, std::string_view ns, std::string_view key, std::string_view value);
  void Kill(std::uint64_t job, std::string_view ns, std::string_view key);

 private:
  void Write(const std::string& line);
  std::mutex mutex_;
  std::ofstream out_;
};

// An encoded global key in M syntax: ^name(1,"a"); the key itself when it
// cannot be decoded.
std::string GlobalReference(std::string_view key);

}  // namespace mserver
