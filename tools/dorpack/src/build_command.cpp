#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <system_error>

#include "commands.h"
#include "dorpack/manifest.h"
#include "dorpack/package_writer.h"

namespace dorpack {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBuildHelp =
    "Usage: dorpack build MANIFEST.json -o dorpack.dat\n"
    "\n"
    "Packs the distribution that MANIFEST.json describes into a data file.\n"
    "Routine file paths and patterns are relative to the manifest's folder.\n"
    "The output file is replaced only when the whole file was written.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE  the data file to write (required)\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit status: 0 written; 1 the manifest or a routine file was refused (the\n"
    "message names the file and line); 2 wrong command line.\n";

// Writes the package next to `target` under a temporary name and renames it
// into place, so a failed build leaves an earlier file untouched.
// Creates an empty file of a new name next to `target` and answers its name.
std::string CreateTemporaryBeside(const fs::path& target) {
#ifdef _WIN32
  // CREATE_NEW fails when the name exists, so no other file is taken over.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const fs::path temp =
        target.string() + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount() + attempt);
    HANDLE file =
        CreateFileW(temp.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return temp.string();
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  throw PackError(target.string() + ": cannot create a file next to it");
#else
  std::string temp = target.string() + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw PackError(target.string() + ": cannot create a file next to it: " + std::strerror(errno));
  // mkstemp makes the file private; the data file gets the usual permissions.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  return temp;
#endif
}

void WriteAtomically(const Package& package, const fs::path& target) {
  const std::string temp = CreateTemporaryBeside(target);
  try {
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      if (!out.is_open()) throw PackError(temp + ": cannot open for writing");
      WritePackage(package, out);
      out.close();
      if (!out) throw PackError(temp + ": cannot write");
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) throw PackError(target.string() + ": cannot replace: " + ec.message());
  } catch (...) {
    std::remove(temp.c_str());
    throw;
  }
}

}  // namespace

int RunBuild(const std::vector<std::string>& args) {
  std::string manifest;
  std::string output;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kBuildHelp;
      return kExitOk;
    }
    if (arg == "-o" || arg == "--output") {
      if (i + 1 == args.size() || !output.empty()) {
        std::cerr << "dorpack build: " << arg << " needs one file name\n" << kBuildHelp;
        return kExitUsage;
      }
      output = args[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << "dorpack build: unknown option " << arg << "\n" << kBuildHelp;
      return kExitUsage;
    } else if (manifest.empty()) {
      manifest = arg;
    } else {
      std::cerr << "dorpack build: more than one manifest given\n" << kBuildHelp;
      return kExitUsage;
    }
  }
  if (manifest.empty() || output.empty()) {
    std::cerr << "dorpack build: a manifest and -o FILE are required\n" << kBuildHelp;
    return kExitUsage;
  }

  try {
    Warnings warnings;
    Package package = LoadManifest(manifest, &warnings);
    for (const auto& warning : warnings) std::cerr << "dorpack build: warning: " << warning << "\n";
    CheckPackage(package);
    const auto key = ResolveKey(package);
    package.key = key;
    WriteAtomically(package, output);
    std::cout << output << ": " << package.routines.size() << " routines, " << package.checkRoutines.size()
              << " check routines, " << package.postActions.size() << " post-actions, key " << static_cast<int>(key)
              << ", " << fs::file_size(output) << " bytes\n";
    return kExitOk;
  } catch (const PackError& e) {
    std::cerr << "dorpack build: " << e.what() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "dorpack build: " << manifest << ": " << e.what() << "\n";
  }
  return kExitRefused;
}

}  // namespace dorpack
