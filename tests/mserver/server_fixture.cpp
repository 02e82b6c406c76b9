#include "server_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace mserver_test {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device rd;
  path_ = fs::temp_directory_path() /
          (std::string("mserver-test-") + std::to_string(::getpid()) + "-" + std::to_string(rd()));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ServerBinary() { return MSERVER_BINARY; }

namespace {

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

pid_t Spawn(const std::vector<std::string>& args, const fs::path& out, const fs::path& err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  std::string binary = ServerBinary();
  argv.push_back(binary.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + binary);
  return pid;
}

int Status(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status); }

}  // namespace

int RunBinary(const std::vector<std::string>& args, std::string* out, std::string* err) {
  TempDir dir;
  pid_t pid = Spawn(args, dir.path() / "out", dir.path() / "err");
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (out) *out = ReadFile(dir.path() / "out");
  if (err) *err = ReadFile(dir.path() / "err");
  return Status(status);
}

ServerProcess::ServerProcess(const fs::path& data, std::vector<std::string> extra) {
  logFile_ = logDir_.path() / "server.log";
  std::vector<std::string> args = {"serve", "--data", data.string(), "--listen", "127.0.0.1:0"};
  args.insert(args.end(), extra.begin(), extra.end());
  pid_ = Spawn(args, logDir_.path() / "server.out", logFile_);
  const std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
  for (int i = 0; i < 1000; ++i) {
    std::smatch m;
    const std::string text = log();
    if (std::regex_search(text, m, listening)) {
      port_ = static_cast<std::uint16_t>(std::stoi(m[1]));
      return;
    }
    if (!running()) throw std::runtime_error("mserver did not start: " + text);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Kill();
  throw std::runtime_error("mserver did not listen within 10 s: " + log());
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0) Kill();
}

bool ServerProcess::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

int ServerProcess::Terminate(std::chrono::milliseconds wait) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  const auto end = std::chrono::steady_clock::now() + wait;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return Status(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Kill();
  return -SIGKILL;
}

void ServerProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::string ServerProcess::log() const { return ReadFile(logFile_); }

std::size_t ProcessStatusKiB(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stoul(line.substr(field.size() + 1));
  }
  return 0;
}

mlink::Client ServerProcess::Connect(std::chrono::milliseconds callTimeout) const {
  mlink::ClientOptions options;
  options.callTimeout = callTimeout;
  options.clientName = "test";
  mlink::Client client(options);
  client.Connect(endpoint());
  return client;
}

mlink::Answer Call(mlink::Client& client, const std::string& code, const std::string& ns, const std::string& p1,
                   const std::string& p2) {
  mlink::Request r;
  r.nameSpace = ns;
  r.p1 = p1;
  r.p2 = p2;
  r.code = code;
  return client.Call(r);
}

}  // namespace mserver_test
