// mserver: the M test server and its command-line tools.
#include <iostream>
#include <string>

#include "command_line.h"

namespace {

const char* const kMainHelp =
    "usage: mserver <command> [options]\n"
    "\n"
    "The M test server: persistent globals, namespaces, routines, locks and\n"
    "jobs, served over the link protocol.\n"
    "\n"
    "commands:\n"
    "  serve   run the server until SIGINT or SIGTERM\n"
    "  call    send one line of M code to a running server\n"
    "  run     run lines of M code in-process against a data folder\n"
    "\n"
    "'mserver <command> --help' describes each command.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace mserver::cli;
  if (argc < 2 || IsHelp(argv[1])) {
    std::cout << kMainHelp;
    return argc < 2 ? kExitUsage : kExitOk;
  }
  const std::string command = argv[1];
  Args args(argc, argv);
  try {
    if (command == "serve") return Serve(args);
    if (command == "call") return Call(args);
    if (command == "run") return Run(args);
    std::cerr << "mserver: unknown command '" << command << "'\n\n" << kMainHelp;
    return kExitUsage;
  } catch (const UsageError& e) {
    std::cerr << "mserver " << command << ": " << e.what() << "\n(see 'mserver " << command << " --help')\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "mserver " << command << ": " << e.what() << '\n';
    return kExitError;
  }
}
