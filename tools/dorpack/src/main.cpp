// dorpack: packs a distribution's data file from a manifest and lists what
// the installer reads from one.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "signing_commands.h"

namespace {

// The texts of this file.
namespace text {

constexpr const char* kHelp =
    "Запуск: dorpack build MANIFEST.json -o dorpack.dat\n"
    "        dorpack list [--json] dorpack.dat | MANIFEST.json\n"
    "        dorpack extract [--format int|ro] dorpack.dat FOLDER\n"
    "        dorpack keygen -p PUBLIC.pub -s SECRET.key [-W]\n"
    "        dorpack sign SECRET.key DIR\n"
    "\n"
    "  build    упаковать дистрибутив, описанный манифестом, в файл данных\n"
    "  list     показать, что установщик читает из файла данных, или откуда\n"
    "           берётся каждая программа манифеста\n"
    "  extract  записать программы файла данных обратно в файлы\n"
    "  keygen   создать пару ключей подписи (формат minisign)\n"
    "  sign     подписать дистрибутив в папке (build --sign SECRET.key: сразу после сборки)\n"
    "\n"
    "\"dorpack COMMAND --help\" описывает каждую команду.\n";
constexpr const char* kUnknownCommand = "dorpack: неизвестная команда ";

}  // namespace text

}  // namespace

int main(int argc, char** argv) {
  dorpack::UseConsoleOutput();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << text::kHelp;
    return dorpack::kExitUsage;
  }
  const std::string& command = args.front();
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << text::kHelp;
    return dorpack::kExitOk;
  }
  if (command == "build" && dorpack::AsksForSignature(rest)) return dorpack::RunSignedBuild(rest);
  if (command == "build") return dorpack::RunBuild(rest);
  if (command == "keygen") return dorpack::RunKeygen(rest);
  if (command == "sign") return dorpack::RunSign(rest);
  if (command == "list") return dorpack::RunList(rest);
  if (command == "extract") return dorpack::RunExtract(rest);
  std::cerr << text::kUnknownCommand << command << "\n" << text::kHelp;
  return dorpack::kExitUsage;
}
