// What the mserver commands share: argument walking, option values and exit
// codes. Each command lives in a file of its own.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "mlink/endpoint.h"

namespace mserver::cli {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Walks the arguments after the command name.
class Args {
 public:
  Args(int argc, char** argv) : args_(argv + 2, argv + argc) {}
  bool Done() const { return pos_ >= args_.size(); }
  std::string Take() { return args_[pos_++]; }
  std::string Value(const std::string& option) {
    if (Done()) throw UsageError("option " + option + " needs a value");
    return Take();
  }

 private:
  std::vector<std::string> args_;
  std::size_t pos_ = 0;
};

// A whole number from min to max, or UsageError naming the option.
long Number(const std::string& option, const std::string& text, long min, long max);
mlink::Endpoint EndpointOption(const std::string& option, const std::string& text);
inline bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

int Serve(Args& args);
int Call(Args& args);
int Run(Args& args);

}  // namespace mserver::cli
