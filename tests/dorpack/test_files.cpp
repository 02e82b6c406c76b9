#include "test_files.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "distribution/codepage.h"
#include "dorpack/package_writer.h"

namespace dorpack_test {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "dorpack-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a scratch folder");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path ScratchFolder::Write(const std::string& relative, std::string_view bytes) const {
  const fs::path file = path_ / relative;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return std::move(content).str();
}

namespace {

std::string ShellQuote(const std::string& arg) {
  std::string quoted = "'";
  for (const char c : arg) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

CommandResult RunDorpack(std::initializer_list<std::string> args) { return RunDorpack(std::vector<std::string>(args)); }

CommandResult RunDorpack(const std::vector<std::string>& args) {
  const ScratchFolder capture;
  const fs::path out = capture.Path() / "out";
  const fs::path err = capture.Path() / "err";
  std::string command = ShellQuote(DORPACK_EXECUTABLE);
  for (const auto& arg : args) command += " " + ShellQuote(arg);
  command += " >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string());
  const int status = std::system(command.c_str());
  CommandResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadBytes(out);
  result.err = ReadBytes(err);
  return result;
}

dorpack::DistributionListing PackAndList(const dorpack::Package& package, const ScratchFolder& folder) {
  const fs::path file = folder.Write("dorpack.dat", dorpack::PackageBytes(package));
  return dorpack::ReadDistributionListing(file);
}

std::string Dos(std::string_view utf8) { return dorvik::Utf8ToCp866(utf8); }

dorpack::PackText DosText(std::string_view utf8) { return dorpack::PackText{Dos(utf8), {}}; }

}  // namespace dorpack_test
