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
#include "common_texts.h"
#include "dorpack/manifest.h"
#include "dorpack/package_writer.h"

namespace dorpack {

namespace fs = std::filesystem;

namespace {

// The texts of this file.
namespace text {

constexpr const char* kHelp =
    "Запуск: dorpack build MANIFEST.json -o dorpack.dat\n"
    "\n"
    "Упаковывает дистрибутив, описанный в MANIFEST.json, в файл данных.\n"
    "Пути и шаблоны файлов программ задаются от папки манифеста.\n"
    "Файл данных заменяется, только когда он записан целиком.\n"
    "\n"
    "Параметры:\n"
    "  -o, --output FILE  файл данных, который записать (обязателен)\n"
    "  -h, --help         показать эту справку\n"
    "\n"
    "Код завершения: 0 файл записан; 1 манифест или файл программы отвергнут\n"
    "(сообщение называет файл и строку); 2 неверная командная строка.\n";
constexpr const char* kPrefix = "dorpack build: ";
std::string NeedsFile(const std::string& option) { return option + " требует одно имя файла"; }
std::string UnknownOption(const std::string& option) { return "неизвестный параметр " + option; }
constexpr const char* kTwoManifests = "задано больше одного манифеста";
constexpr const char* kNeedsBoth = "нужны манифест и -o FILE";
constexpr const char* kWarning = "предупреждение: ";
constexpr const char* kUnexpected = "непредвиденная ошибка: ";
std::string CannotCreateBeside(const std::string& target) { return target + ": рядом с ним не создаётся файл"; }
std::string CannotOpen(const std::string& file) { return file + ": не открывается для записи"; }
std::string CannotWrite(const std::string& file) { return file + ": не записывается"; }
std::string CannotReplace(const std::string& file, const std::string& why) { return file + ": не заменяется: " + why; }
std::string Written(const std::string& file, const Package& p, int key, std::uintmax_t bytes) {
  return file + ": программ " + std::to_string(p.routines.size()) + ", программ проверки " +
         std::to_string(p.checkRoutines.size()) + ", последействий " + std::to_string(p.postActions.size()) +
         ", ключ " + std::to_string(key) + ", байт " + std::to_string(bytes);
}

}  // namespace text

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
  throw PackError(text::CannotCreateBeside(target.string()));
#else
  std::string temp = target.string() + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0)
    throw PackError(text::CannotCreateBeside(target.string()) + ": " +
                    common_text::SystemFault(std::error_code(errno, std::generic_category())));
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
      if (!out.is_open()) throw PackError(text::CannotOpen(temp));
      WritePackage(package, out);
      out.close();
      if (!out) throw PackError(text::CannotWrite(temp));
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) throw PackError(text::CannotReplace(target.string(), common_text::SystemFault(ec)));
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
      std::cout << text::kHelp;
      return kExitOk;
    }
    if (arg == "-o" || arg == "--output") {
      if (i + 1 == args.size() || !output.empty()) {
        std::cerr << text::kPrefix << text::NeedsFile(arg) << "\n" << text::kHelp;
        return kExitUsage;
      }
      output = args[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << text::kPrefix << text::UnknownOption(arg) << "\n" << text::kHelp;
      return kExitUsage;
    } else if (manifest.empty()) {
      manifest = arg;
    } else {
      std::cerr << text::kPrefix << text::kTwoManifests << "\n" << text::kHelp;
      return kExitUsage;
    }
  }
  if (manifest.empty() || output.empty()) {
    std::cerr << text::kPrefix << text::kNeedsBoth << "\n" << text::kHelp;
    return kExitUsage;
  }

  try {
    Warnings warnings;
    Package package = LoadManifest(manifest, &warnings);
    for (const auto& warning : warnings) std::cerr << text::kPrefix << text::kWarning << warning << "\n";
    CheckPackage(package);
    const auto key = ResolveKey(package);
    package.key = key;
    WriteAtomically(package, output);
    std::cout << text::Written(output, package, key, fs::file_size(output)) << "\n";
    return kExitOk;
  } catch (const PackError& e) {
    std::cerr << text::kPrefix << e.what() << "\n";
  } catch (const std::exception& e) {
    std::cerr << text::kPrefix << manifest << ": " << text::kUnexpected << e.what() << "\n";
  }
  return kExitRefused;
}

}  // namespace dorpack
