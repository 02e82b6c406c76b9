#include "run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace dorvik::testing {

namespace {

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

ProgramResult RunProgram(const std::filesystem::path& binary, const std::vector<std::string>& args,
                         const std::filesystem::path& folder, const std::vector<std::string>& environment,
                         int interruptAfterMs) {
  const std::filesystem::path outFile = folder / ".program.out";
  const std::filesystem::path errFile = folder / ".program.err";
  std::vector<std::string> argv{binary.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argp;
  for (auto& a : argv) argp.push_back(a.data());
  argp.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir(folder.c_str()) != 0) _exit(127);
    // A session of its own: no controlling terminal, as under CI, so that
    // nothing is asked on the terminal of whoever runs the tests.
    setsid();
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  if (interruptAfterMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(interruptAfterMs));
    kill(pid, SIGINT);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  ProgramResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadAll(outFile);
  result.err = ReadAll(errFile);
  std::error_code ec;
  std::filesystem::remove(outFile, ec);
  std::filesystem::remove(errFile, ec);
  return result;
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
}

}  // namespace dorvik::testing
