// mserver call: sends one request to a running server.
#include <iostream>
#include <optional>

#include "command_line.h"
#include "mlink/client.h"

namespace mserver::cli {
namespace {

const char* const kCallHelp =
    "usage: mserver call --connect HOST:PORT --namespace NS [--p1 V] [--p2 V] CODE\n"
    "\n"
    "Sends one request. Code beginning with '$' is an expression, anything else\n"
    "a command line. Prints the value's bytes unchanged and exits 0, or prints\n"
    "the error text on standard error and exits 1.\n"
    "\n"
    "  --connect HOST:PORT  server address (default 127.0.0.1:1972)\n"
    "  --namespace NS       namespace to run in (default USER)\n"
    "  --p1 V, --p2 V       values of the variables P1 and P2\n"
    "  --timeout SEC        longest wait for the answer (default 120)\n";

}  // namespace

int Call(Args& args) {
  mlink::Endpoint endpoint{"127.0.0.1", 1972};
  mlink::Request request;
  request.nameSpace = "USER";
  mlink::ClientOptions options;
  options.clientName = "mserver call";
  std::optional<std::string> code;
  while (!args.Done()) {
    const std::string a = args.Take();
    if (IsHelp(a)) {
      std::cout << kCallHelp;
      return kExitOk;
    } else if (a == "--connect") {
      endpoint = EndpointOption(a, args.Value(a));
    } else if (a == "--namespace") {
      request.nameSpace = args.Value(a);
    } else if (a == "--p1") {
      request.p1 = args.Value(a);
    } else if (a == "--p2") {
      request.p2 = args.Value(a);
    } else if (a == "--timeout") {
      options.callTimeout = std::chrono::seconds(Number(a, args.Value(a), 0, 1L << 30));
    } else if (a == "--") {
      if (!args.Done()) code = args.Take();
    } else if (!code && (a.empty() || a[0] != '-' || (a.size() > 1 && a[1] != '-'))) {
      // Code may begin with '-' only in odd cases ("-1"); options begin with "--".
      code = a;
    } else {
      throw UsageError("unknown option '" + a + "' for call");
    }
  }
  if (!code) throw UsageError("call needs the CODE to run");
  request.code = *code;
  mlink::Client client(options);
  try {
    client.Connect(endpoint);
    mlink::Answer answer = client.Call(request);
    if (answer.error != 0) {
      std::cerr << answer.errorName << '\n';
      return kExitError;
    }
    std::cout.write(answer.value.data(), static_cast<std::streamsize>(answer.value.size()));
    std::cout.flush();
    return kExitOk;
  } catch (const mlink::LinkError& e) {
    std::cerr << "mserver call: " << e.what() << '\n';
    return kExitError;
  }
}

}  // namespace mserver::cli
