// Runs a real mserver for a test: on a free loopback port, with a fresh
// data folder, stopped (and its folder removed) when the object goes.
#pragma once

#include <string>
#include <vector>
#include <filesystem>

namespace dorvik::testing {

class MServerProcess {
 public:
  // `binary` is the mserver executable; `extraArgs` go after
  // "serve --data DIR --listen 127.0.0.1:PORT".
  // Every request goes to the transcript unless `transcript` is false
  // (benchmarks: writing it costs as much as a short request).
  explicit MServerProcess(std::filesystem::path binary, std::vector<std::string> extraArgs = {},
                          std::filesystem::path dataFolder = {}, bool transcript = true);
  ~MServerProcess();
  MServerProcess(const MServerProcess&) = delete;
  MServerProcess& operator=(const MServerProcess&) = delete;

  int Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::filesystem::path& DataFolder() const { return data_; }
  const std::filesystem::path& Transcript() const { return transcript_; }
  // Lines of the transcript written so far.
  std::vector<std::string> TranscriptLines() const;

  // Ends the server at once, as a crash would (SIGKILL).
  void Kill();
  // Starts it again on the same port and data folder.
  void Restart();

 private:
  void Start();
  void Stop(int signal);

  std::filesystem::path binary_;
  std::vector<std::string> extra_;
  std::filesystem::path data_;
  std::filesystem::path transcript_;
  bool ownsData_ = false;
  bool transcriptOn_ = true;
  int port_ = 0;
  int pid_ = -1;
};

// A loopback TCP port that nothing listens on at the moment of the call.
int FreeLoopbackPort();

}  // namespace dorvik::testing
