#include "mserver_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace dorvik::testing {

namespace {

bool CanConnect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket() failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = 0;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot find a free port");
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

MServerProcess::MServerProcess(std::filesystem::path binary, std::vector<std::string> extraArgs,
                               std::filesystem::path dataFolder, bool transcript)
    : binary_(std::move(binary)),
      extra_(std::move(extraArgs)),
      data_(std::move(dataFolder)),
      transcriptOn_(transcript) {
  if (data_.empty()) {
    std::random_device rd;
    data_ = std::filesystem::temp_directory_path() /
            ("mserver-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    ownsData_ = true;
  }
  std::filesystem::create_directories(data_);
  transcript_ = data_ / "transcript.log";
  port_ = FreeLoopbackPort();
  Start();
}

MServerProcess::~MServerProcess() {
  Stop(SIGTERM);
  if (ownsData_) {
    std::error_code ec;
    std::filesystem::remove_all(data_, ec);
  }
}

void MServerProcess::Start() {
  std::vector<std::string> args = {binary_.string(), "serve", "--data", (data_ / "db").string(), "--listen", Address()};
  if (transcriptOn_) {
    args.push_back("--transcript");
    args.push_back(transcript_.string());
  }
  args.insert(args.end(), extra_.begin(), extra_.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, binary_.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + binary_.string());
  }
  pid_ = pid;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!CanConnect(port_)) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("mserver ended at start-up");
    }
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("mserver did not start listening");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void MServerProcess::Stop(int signal) {
  if (pid_ <= 0) return;
  ::kill(pid_, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

void MServerProcess::Kill() { Stop(SIGKILL); }

void MServerProcess::Restart() {
  Stop(SIGTERM);
  Start();
}

std::vector<std::string> MServerProcess::TranscriptLines() const {
  std::vector<std::string> lines;
  std::ifstream in(transcript_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace dorvik::testing
