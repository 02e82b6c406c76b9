// The installer's only path to the server: run one line of M code at a time
// and read back its value and error, with two parameters the code sees as
// the variables P1 and P2. The operations mirror the client control the
// installer was designed around.
#pragma once

#include <cstdint>
#include <string>

namespace dorvik {

class ServerLink {
 public:
  virtual ~ServerLink() = default;

  // The connection string ("CN_IPTCP:ip[port]:ip[port]"); read back after
  // the first execution it names the server actually used.
  virtual void SetServer(const std::string& server) = 0;
  virtual std::string GetServer() = 0;
  // Later code runs in this namespace.
  virtual void SetNamespace(const std::string& ns) = 0;
  // P1 (n = 1) or P2 (n = 2).
  virtual void SetParam(int n, const std::string& value) = 0;
  void SetParam(int n, std::int64_t value) { SetParam(n, std::to_string(value)); }
  virtual std::string GetParam(int n) = 0;
  // Runs one line: an expression when it begins with "$" (its value goes to
  // the value property), otherwise a command line.
  virtual void RunCode(const std::string& code) = 0;
  virtual void Execute(const std::string& code) { RunCode(code); }
  virtual std::string GetValue() = 0;
  virtual void SetValue(const std::string& value) = 0;
  std::string Evaluate(const std::string& code) {
    SetValue("");
    Execute(code);
    return GetValue();
  }
  virtual void ClearError() = 0;
  // 0 when the last execution succeeded; otherwise ErrorText() says why.
  virtual int ErrorCode() = 0;
  virtual std::string ErrorText() = 0;

  // Journaling of the server process; the outcome is not examined.
  void EnableJournal() { RunCode("d ENABLE^%NOJRN"); }
  void DisableJournal() { RunCode("d DISABLE^%NOJRN"); }
};

}  // namespace dorvik
