// dorpack: packs a distribution's data file from a manifest and lists what
// the installer reads from one.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "signing_commands.h"

namespace {

constexpr const char* kHelp =
    "Usage: dorpack build MANIFEST.json -o dorpack.dat\n"
    "       dorpack list [--json] dorpack.dat | MANIFEST.json\n"
    "       dorpack extract [--format int|ro] dorpack.dat FOLDER\n"
    "       dorpack keygen -p PUBLIC.pub -s SECRET.key [-W]\n"
    "       dorpack sign SECRET.key DIR\n"
    "\n"
    "  build    pack the distribution a manifest describes into a data file\n"
    "  list     show what the installer reads from a data file, or where\n"
    "           each routine of a manifest comes from\n"
    "  extract  write a data file's routines back out as files\n"
    "  keygen   создать пару ключей подписи (формат minisign)\n"
    "  sign     подписать дистрибутив в папке (build --sign SECRET.key: сразу после сборки)\n"
    "\n"
    "\"dorpack COMMAND --help\" describes each command.\n";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << kHelp;
    return dorpack::kExitUsage;
  }
  const std::string& command = args.front();
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << kHelp;
    return dorpack::kExitOk;
  }
  if (command == "build" && dorpack::AsksForSignature(rest)) return dorpack::RunSignedBuild(rest);
  if (command == "build") return dorpack::RunBuild(rest);
  if (command == "keygen") return dorpack::RunKeygen(rest);
  if (command == "sign") return dorpack::RunSign(rest);
  if (command == "list") return dorpack::RunList(rest);
  if (command == "extract") return dorpack::RunExtract(rest);
  std::cerr << "dorpack: unknown command " << command << "\n" << kHelp;
  return dorpack::kExitUsage;
}
