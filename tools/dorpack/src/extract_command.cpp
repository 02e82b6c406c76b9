#include <iostream>

#include "commands.h"
#include "dorpack/distribution_extract.h"

namespace dorpack {

namespace {

// The texts of this file.
namespace text {

constexpr const char* kHelp =
    "Запуск: dorpack extract [--format int|ro] dorpack.dat FOLDER\n"
    "\n"
    "Записывает программы файла данных, прочитанные собственным читателем\n"
    "установщика, в папку FOLDER (новую или пустую) в UTF-8 вместе с\n"
    "manifest.json, который снова упаковывает их в тот же файл данных\n"
    "(\"dorpack build FOLDER/manifest.json\"), чтобы дистрибутив можно было\n"
    "сравнить с его исходными текстами.\n"
    "\n"
    "Параметры:\n"
    "  --format int  по файлу NAME.int на программу, программы проверки в check/\n"
    "                (по умолчанию)\n"
    "  --format ro   routines.ro и check.ro, файлы вывода программ; пустая\n"
    "                строка программы пишется одним пробелом (об этом\n"
    "                предупреждает сообщение)\n"
    "  -h, --help    показать эту справку\n"
    "\n"
    "Код завершения: 0 файлы записаны; 1 файла данных нет или он испорчен, или\n"
    "папка FOLDER не пуста (ничего не записано); 2 неверная командная строка.\n";
constexpr const char* kPrefix = "dorpack extract: ";
constexpr const char* kFormat = "--format принимает int или ro";
std::string UnknownOption(const std::string& option) { return "неизвестный параметр " + option; }
constexpr const char* kNeedsBoth = "нужны файл данных и папка";
constexpr const char* kWarning = "предупреждение: ";
std::string Written(const std::string& folder, const DistributionListing& listing, const std::string& manifest) {
  return folder + ": программ " + std::to_string(listing.routines.size()) + ", программ проверки " +
         std::to_string(listing.checkRoutines.size()) + "; " + manifest + " снова упаковывает их";
}

}  // namespace text

}  // namespace

int RunExtract(const std::vector<std::string>& args) {
  ExtractFormat format = ExtractFormat::kInt;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << text::kHelp;
      return kExitOk;
    }
    if (arg == "--format") {
      const std::string value = i + 1 < args.size() ? args[++i] : "";
      if (value != "int" && value != "ro") {
        std::cerr << text::kPrefix << text::kFormat << "\n" << text::kHelp;
        return kExitUsage;
      }
      format = value == "ro" ? ExtractFormat::kRo : ExtractFormat::kInt;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << text::kPrefix << text::UnknownOption(arg) << "\n" << text::kHelp;
      return kExitUsage;
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) {
    std::cerr << text::kPrefix << text::kNeedsBoth << "\n" << text::kHelp;
    return kExitUsage;
  }

  try {
    const DistributionListing listing = ReadDistributionListing(files[0]);
    const ExtractResult result = ExtractDistribution(listing, files[1], format);
    for (const auto& warning : result.warnings) std::cerr << text::kPrefix << text::kWarning << warning << "\n";
    std::cout << text::Written(files[1], listing, result.files.back().string()) << "\n";
    return kExitOk;
  } catch (const std::exception& e) {
    std::cerr << text::kPrefix << files[0] << ": " << e.what() << "\n";
    return kExitRefused;
  }
}

}  // namespace dorpack
