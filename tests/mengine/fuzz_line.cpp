// libFuzzer target: one line of input, run as a command line and evaluated
// as an expression, against an in-memory host with a small routine. Any
// input must end in a result or an M error, never in a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mengine/memory_host.h"
#include "mengine/process.h"

namespace {

mengine::MemoryHost& Host() {
  static mengine::MemoryHost* host = [] {
    auto* h = new mengine::MemoryHost();
    mengine::Limits job;
    job.max_steps = 20000;
    job.max_time = std::chrono::milliseconds(50);
    h->SetJobLimits(job);
    h->SaveRoutine("USER", "r",
                   {"r ; fuzz routine", "a(x) q $g(x)+1", "b s ^g($i(^g))=$h q", "c s $zt=\"e\" s y=1/0 q", "e q", " d",
                    " . w 1", "f() q $t(a)",
                    // error processing, TRY/CATCH and restart, for lines that call them
                    "g try { s x=1/0 } catch e { s y=e.Name_e.Location } q",
                    "h n $et s $et=\"s $ec=\"\"\"\"\" s $ec=\",U1,\" q $st(-1)",
                    "i ts (x) s x=$g(x)+1 tre:'$tr  tc  q", "j try {", " d c", " } catch {", " } q"});
    return h;
  }();
  return *host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  if (line.find('\n') != std::string::npos) line.resize(line.find('\n'));
  mengine::StringSink sink;
  mengine::ProcessOptions options;
  options.output = &sink;
  options.limits.max_steps = 20000;
  options.limits.max_time = std::chrono::milliseconds(20);
  options.limits.max_string = 1 << 20;
  mengine::Process p(Host(), options);
  p.SetLocal("P1", "1");
  p.Execute(line);
  p.Evaluate(line);
  p.Execute("k ^g");
  return 0;
}
