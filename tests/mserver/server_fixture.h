// Runs the built mserver executable on a free loopback port with a fresh
// data folder, for tests that talk to a real server over a real socket.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "mlink/client.h"

namespace mserver_test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class ServerProcess {
 public:
  // Starts `mserver serve --data <data> --listen 127.0.0.1:0 <extra...>` and
  // waits until it listens. Throws std::runtime_error when it does not.
  ServerProcess(const std::filesystem::path& data, std::vector<std::string> extra = {});
  ~ServerProcess();  // SIGKILL when still running

  mlink::Endpoint endpoint() const { return {"127.0.0.1", port_}; }
  std::uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }

  // A connected client (its own server process).
  mlink::Client Connect(std::chrono::milliseconds callTimeout = std::chrono::seconds(30)) const;

  // SIGTERM and wait; answers the exit status (or -signal).
  int Terminate(std::chrono::milliseconds wait = std::chrono::seconds(20));
  void Kill();  // SIGKILL and wait
  bool running();

  std::string log() const;  // everything the server wrote on stderr

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  std::filesystem::path logFile_;
  TempDir logDir_;
};

// Runs one request on a client and fails the test on a link failure.
mlink::Answer Call(mlink::Client& client, const std::string& code, const std::string& ns = "USER",
                   const std::string& p1 = "", const std::string& p2 = "");

// A field of /proc/PID/status in KiB ("VmRSS", "VmHWM"); 0 when unknown.
std::size_t ProcessStatusKiB(pid_t pid, const std::string& field);

// Path of the built mserver executable.
std::string ServerBinary();

// Runs the binary with arguments; collects stdout and stderr; answers the exit status.
int RunBinary(const std::vector<std::string>& args, std::string* out, std::string* err);

}  // namespace mserver_test
