// The server's peak memory under a hostile client, run by hand:
//
//   mserver_hostile [path/to/mserver]
//
// Each case starts a fresh mserver on a free loopback port and reports the
// server's VmHWM (peak resident memory) from /proc when the case is done:
//   frames  60 connections that each announce a 16 MiB frame and send one byte
//   idle    256 idle, handshaken connections, then one more client that wants
//           to run a line (is it served, and how soon)
//   locks   256 connections whose processes each hold a lock, then one more
//           client: 1.5 s after they locked, and once they have been idle
//           for the server's --lock-holder-idle (10 s)
//   line    one client running f i=1:1:170 s big(i)=$j("",3641144) (600 MB
//           without a limit)
//   grow8   8 clients running that line at once (each within its own limit,
//           2 GiB together without the server's limit)
// Everything is bounded: at most 257 connections, a dozen seconds a case,
// and the server's memory limit (1 GiB at most by default; 2 GiB for a server
// without a limit for all processes).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mlink/client.h"
#include "mlink/messages.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::size_t StatusKiB(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stoul(line.substr(field.size() + 1));
  }
  return 0;
}

// A real mserver on a free loopback port with a fresh data folder.
class Server {
 public:
  explicit Server(const std::string& binary) {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("mserver-hostile-" + std::to_string(rd()));
    fs::create_directories(dir_);
    const fs::path log = dir_ / "server.log";
    std::vector<std::string> args = {binary, "serve", "--data", (dir_ / "data").string(), "--listen", "127.0.0.1:0"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      throw std::runtime_error("cannot start " + binary);
    }
    posix_spawn_file_actions_destroy(&actions);
    const std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
    for (int i = 0; i < 500 && port_ == 0; ++i) {
      std::smatch m;
      const std::string text = ReadFile(log);
      if (std::regex_search(text, m, listening)) port_ = static_cast<std::uint16_t>(std::stoi(m[1]));
      std::this_thread::sleep_for(20ms);
    }
    if (port_ == 0) throw std::runtime_error("mserver did not listen: " + ReadFile(log));
  }
  ~Server() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::uint16_t port() const { return port_; }
  std::size_t PeakKiB() const { return StatusKiB(pid_, "VmHWM"); }
  std::unique_ptr<mlink::Client> Connect(std::chrono::milliseconds callTimeout = 60s) const {
    mlink::ClientOptions options;
    options.callTimeout = callTimeout;
    options.clientName = "hostile bench";
    auto c = std::make_unique<mlink::Client>(options);
    c->Connect({"127.0.0.1", port_});
    return c;
  }

 private:
  fs::path dir_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

int RawConnect(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void Report(const char* name, const Server& server, std::size_t baseKiB, const std::string& note) {
  std::printf("%-7s peak %7.1f MiB (at start %5.1f MiB)  %s\n", name, server.PeakKiB() / 1024.0, baseKiB / 1024.0,
              note.c_str());
}

void Frames(const std::string& binary) {
  Server server(binary);
  const std::size_t base = server.PeakKiB();
  const std::string hello = mlink::EncodeFrame(mlink::Hello{mlink::kProtocolVersion, "hostile"});
  const std::string start = hello + std::string("\x01\0\0\0\x03", 5);  // 16 MiB announced, 1 byte sent
  std::vector<int> fds;
  for (int i = 0; i < 60; ++i) {
    int fd = RawConnect(server.port());
    if (fd < 0) continue;
    ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
    fds.push_back(fd);
  }
  std::this_thread::sleep_for(1s);
  auto c = server.Connect();
  const bool served = c->Call({"USER", "", "", "$J"}).error == 0;
  Report("frames", server, base,
         std::to_string(fds.size()) + " connections; another client " + (served ? "served" : "not served"));
  for (int fd : fds) ::close(fd);
}

// Connects one more client and runs $J; says whether and how soon it was served.
std::string NewClient(const Server& server) {
  const auto begin = Clock::now();
  std::string note;
  try {
    auto c = server.Connect();
    note = c->Call({"USER", "", "", "$J"}).error == 0 ? "served" : "answered with an error";
  } catch (const std::exception& e) {
    note = std::string("refused (") + e.what() + ")";
  }
  char ms[32];
  std::snprintf(ms, sizeof ms, " in %.2f ms", std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
  return note + ms;
}

void Idle(const std::string& binary) {
  Server server(binary);
  const std::size_t base = server.PeakKiB();
  std::vector<std::unique_ptr<mlink::Client>> idle;
  for (int i = 0; i < 256; ++i) {
    try {
      idle.push_back(server.Connect());
    } catch (const std::exception&) {
      break;
    }
  }
  std::this_thread::sleep_for(1500ms);
  Report("idle", server, base, std::to_string(idle.size()) + " idle connections; one more client " + NewClient(server));
}

void Locks(const std::string& binary) {
  Server server(binary);
  const std::size_t base = server.PeakKiB();
  std::vector<std::unique_ptr<mlink::Client>> holders;
  for (int i = 0; i < 256; ++i) {
    try {
      holders.push_back(server.Connect());
      if (holders.back()->Call({"USER", "", "", "l +^H(" + std::to_string(i) + ")"}).error) break;
    } catch (const std::exception&) {
      break;
    }
  }
  const auto locked = Clock::now();
  std::this_thread::sleep_for(1500ms);
  const std::string atOnce = NewClient(server);
  std::this_thread::sleep_for(10s - (Clock::now() - locked) + 200ms);
  const std::string later = NewClient(server);
  Report("locks", server, base,
         std::to_string(holders.size()) + " lock holders; a client after 1.5 s " + atOnce + ", after 10 s " + later);
}

void Line(const std::string& binary) {
  Server server(binary);
  const std::size_t base = server.PeakKiB();
  auto c = server.Connect();
  const auto begin = Clock::now();
  const mlink::Answer a = c->Call({"USER", "", "", "f i=1:1:170 s big(i)=$j(\"\",3641144)"});
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
  const std::string kept = c->Call({"USER", "", "", "$o(big(\"\"),-1)"}).value;
  Report("line", server, base,
         (a.error ? "error " + a.errorName : std::string("no error")) + " after " + std::to_string(ms) +
             " ms; big(1.." + kept + ") kept");
}

void Grow8(const std::string& binary) {
  Server server(binary);
  const std::size_t base = server.PeakKiB();
  std::vector<std::unique_ptr<mlink::Client>> clients;
  for (int i = 0; i < 8; ++i) clients.push_back(server.Connect());
  std::vector<mlink::Answer> answers(clients.size());
  std::vector<std::thread> threads;
  const auto begin = Clock::now();
  for (std::size_t i = 0; i < clients.size(); ++i) {
    threads.emplace_back([&, i] {
      answers[i] = clients[i]->Call({"USER", "", "", "f i=1:1:170 s big(i)=$j(\"\",3641144)"});
    });
  }
  for (std::thread& t : threads) t.join();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
  int stopped = 0;
  long kept = 0;
  for (std::size_t i = 0; i < clients.size(); ++i) {
    stopped += answers[i].error != 0 && answers[i].errorName.rfind("<STORE>", 0) == 0 ? 1 : 0;
    kept += std::stol("0" + clients[i]->Call({"USER", "", "", "$o(big(\"\"),-1)"}).value);
  }
  Report("grow8", server, base,
         std::to_string(stopped) + " of 8 stopped with <STORE> after " + std::to_string(ms) + " ms; " +
             std::to_string(kept) + " strings of 3.5 MiB kept (" + std::to_string(kept * 3641144 >> 20) + " MiB)");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string binary = argc > 1 ? argv[1] : MSERVER_BINARY;
  std::printf("mserver: %s\n", binary.c_str());
  try {
    Frames(binary);
    Idle(binary);
    Locks(binary);
    Line(binary);
    Grow8(binary);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
