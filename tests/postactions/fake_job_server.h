// A server link that plays the generated routine's side of a post-action
// run without a server: it takes the uploaded lines, answers $$job, $$jalive
// and the message reads from a script, and records every line of code.
// Each $$jalive call moves the clock on by one second.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fakes.h"
#include "server/server_link.h"

namespace dorvik::testing {

class FakeJobServer : public ServerLink {
 public:
  explicit FakeJobServer(FakeClock& clock) : clock_(clock) {}

  // Script.
  std::string jobAnswer = "1";
  int aliveRounds = 0;  // $$jalive answers "1" this many times, then "0"
  // Message c becomes readable after this many $$jalive calls.
  struct Message {
    int afterAliveCalls;
    std::string text;  // code page 866
  };
  std::vector<Message> messages;
  std::string result;       // ^R("dorvik") after the run
  std::string failOn;       // the first code holding this text fails...
  std::string errorText = "<UNDEFINED>";  // ...with this error
  bool failOnce = true;

  // Record.
  std::vector<std::string> code;
  std::map<std::string, std::string> uploaded;  // P1 -> P2 of "s text(P1)=P2"
  std::vector<std::string> answers;             // arguments of $$SetAnswer
  int aliveCalls = 0;

  void SetServer(const std::string&) override {}
  std::string GetServer() override { return {}; }
  void SetNamespace(const std::string&) override {}
  void SetParam(int n, const std::string& value) override { (n == 1 ? p1_ : p2_) = value; }
  using ServerLink::SetParam;
  std::string GetParam(int n) override { return n == 1 ? p1_ : p2_; }
  std::string GetValue() override { return value_; }
  void SetValue(const std::string& value) override { value_ = value; }
  void ClearError() override { error_ = 0; }
  int ErrorCode() override { return error_; }
  std::string ErrorText() override { return error_ != 0 ? errorText : std::string(); }

  void RunCode(const std::string& line) override {
    code.push_back(line);
    error_ = 0;
    if (!failOn.empty() && line.find(failOn) != std::string::npos) {
      error_ = 1;
      if (failOnce) failOn.clear();
      return;
    }
    if (line == "s text(P1)=P2") {
      uploaded[p1_] = p2_;
    } else if (line == "$$job^dorvik") {
      value_ = jobAnswer;
    } else if (line == "$$jalive^dorvik") {
      ++aliveCalls;
      clock_.timeOfDay += 1.0 / 86400;
      value_ = aliveCalls <= aliveRounds ? "1" : "0";
    } else if (line.rfind("$g(^R(\"dorvik\",\"", 0) == 0) {
      const std::size_t c = std::stoul(line.substr(16));
      value_ = c >= 1 && c <= messages.size() && messages[c - 1].afterAliveCalls <= aliveCalls ? messages[c - 1].text : "";
    } else if (line == "$g(^R(\"dorvik\"))" || line == "$$stf^dorvik") {
      value_ = result;
    } else if (line.rfind("$$SetAnswer^dorvik(", 0) == 0) {
      answers.push_back(line.substr(19, line.size() - 20));
      value_ = "";
    }
  }

 private:
  FakeClock& clock_;
  std::string p1_, p2_, value_;
  int error_ = 0;
};

}  // namespace dorvik::testing
