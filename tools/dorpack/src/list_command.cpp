#include <iostream>

#include "commands.h"
#include "dorpack/distribution_listing.h"
#include "dorpack/listing_output.h"
#include "dorpack/manifest.h"
#include "dorpack/package_writer.h"
#include "source_listing.h"

namespace dorpack {

namespace {

// The texts of this file.
namespace text {

constexpr const char* kHelp =
    "Запуск: dorpack list [--json] dorpack.dat\n"
    "        dorpack list [--json] MANIFEST.json\n"
    "\n"
    "Читает файл данных собственным читателем установщика в порядке установки\n"
    "и показывает то, что увидел бы установщик: заголовок, ключ, пароль, метку\n"
    "проверки, последействия, программы проверки и программы с числом строк\n"
    "и размером.\n"
    "\n"
    "Для манифеста (файла .json) читает его, как \"dorpack build\", и\n"
    "показывает, откуда берётся каждая программа: её файл, строку, которая её\n"
    "называет, и место в файле из нескольких программ.\n"
    "\n"
    "Параметры:\n"
    "  --json      вывести один объект JSON, все тексты в UTF-8, каждую\n"
    "              программу с её строками (без строки имени)\n"
    "  -h, --help  показать эту справку\n"
    "\n"
    "Код завершения: 0 файл читается; 1 файла нет или он испорчен (сообщение\n"
    "называет неисправность); 2 неверная командная строка.\n";
constexpr const char* kPrefix = "dorpack list: ";
constexpr const char* kWarning = "предупреждение: ";
constexpr const char* kUnexpected = "непредвиденная ошибка: ";
std::string UnknownOption(const std::string& option) { return "неизвестный параметр " + option; }
constexpr const char* kTwoFiles = "задано больше одного файла";
constexpr const char* kNoFile = "не задан файл данных";

}  // namespace text

// The routines a build of the manifest would pack, refused as the build
// would refuse them.
int ListManifest(const std::string& manifest, bool asJson) {
  try {
    Warnings warnings;
    const Package package = LoadManifest(manifest, &warnings);
    CheckPackage(package);
    for (const auto& warning : warnings) std::cerr << text::kPrefix << text::kWarning << warning << "\n";
    if (asJson) {
      std::cout << SourcesJson(package, warnings).dump(2) << "\n";
    } else {
      PrintSources(package, std::cout);
    }
    return kExitOk;
  } catch (const PackError& e) {
    std::cerr << text::kPrefix << e.what() << "\n";
  } catch (const std::exception& e) {
    std::cerr << text::kPrefix << manifest << ": " << text::kUnexpected << e.what() << "\n";
  }
  return kExitRefused;
}

}  // namespace

int RunList(const std::vector<std::string>& args) {
  bool asJson = false;
  std::string file;
  for (const auto& arg : args) {
    if (arg == "-h" || arg == "--help") {
      std::cout << text::kHelp;
      return kExitOk;
    }
    if (arg == "--json") {
      asJson = true;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << text::kPrefix << text::UnknownOption(arg) << "\n" << text::kHelp;
      return kExitUsage;
    } else if (file.empty()) {
      file = arg;
    } else {
      std::cerr << text::kPrefix << text::kTwoFiles << "\n" << text::kHelp;
      return kExitUsage;
    }
  }
  if (file.empty()) {
    std::cerr << text::kPrefix << text::kNoFile << "\n" << text::kHelp;
    return kExitUsage;
  }

  if (file.size() > 5 && file.compare(file.size() - 5, 5, ".json") == 0) return ListManifest(file, asJson);
  try {
    const DistributionListing listing = ReadDistributionListing(file);
    if (asJson) {
      std::cout << ListingJson(listing).dump(2) << "\n";
    } else {
      PrintListing(listing, std::cout);
    }
    return kExitOk;
  } catch (const std::exception& e) {
    std::cerr << text::kPrefix << file << ": " << e.what() << "\n";
    return kExitRefused;
  }
}

}  // namespace dorpack
