#include "mserver/session.h"

#include "process_activity.h"

namespace mserver {

Session::Session(ServerHost& host, std::string nameSpace, mengine::OutputSink* output, mengine::Limits limits,
                 std::size_t maxMemory, mengine::InputSource* input)
    : host_(host), memory_(maxMemory, &host.serverMemory()), activity_(std::make_unique<ProcessActivity>()) {
  mengine::ProcessOptions options;
  options.ns = NamespaceName(nameSpace);
  options.output = output;
  options.input = input;
  options.limits = limits;
  options.limits.memory_exceeded = memory_.ExceededSignal();
  ProcessActivity::Scope scope(*activity_);
  ProcessMemory::Scope charge(memory_);
  process_ = std::make_unique<mengine::Process>(host_, options);
  activity_->job = process_->Job();
}

Session::~Session() {
  ProcessActivity::Scope scope(*activity_);
  ProcessMemory::Scope charge(memory_);
  process_.reset();
}

std::uint64_t Session::job() const { return process_->Job(); }
bool Session::halted() const { return process_->Halted(); }
std::string Session::nameSpace() const { return process_->Namespace(); }
bool Session::journaling() const { return activity_->journaling; }
void Session::RequestStop() { process_->RequestStop(); }

mengine::Result Session::Execute(std::string_view line) {
  ProcessActivity::Scope scope(*activity_);
  ProcessMemory::Scope charge(memory_);
  memory_.DropStaleSignal();
  mengine::Result result;
  try {
    result = process_->Execute(line);
  } catch (const std::exception& e) {
    result.error = true;
    result.error_text = std::string("<DATABASE> ") + e.what();
  }
  host_.LineEnded(*activity_);
  return result;
}

// A kept parameter keeps its value; one the last line killed is "", as the
// answer to that line reported it.
void Session::SetParameter(const char* name, const std::string& value, bool kept) {
  if (!kept) {
    process_->SetLocal(name, value);
  } else if (!process_->GetLocal(name)) {
    process_->SetLocal(name, "");
  }
}

mlink::Answer Session::Run(const mlink::Request& request, RequestReport* report) {
  ProcessActivity::Scope scope(*activity_);
  ProcessMemory::Scope charge(memory_);
  memory_.DropStaleSignal();
  mlink::Answer answer;
  const std::uint64_t journaledBefore = activity_->journaledUpdates;
  const std::uint64_t unjournaledBefore = activity_->unjournaledUpdates;
  if (report) report->journaling = activity_->journaling;

  bool run = true;
  if (!request.nameSpace.empty()) {
    const std::string wanted = NamespaceName(request.nameSpace);
    if (wanted != process_->Namespace() && !process_->SetNamespace(wanted)) {
      answer.error = 1;
      answer.errorName = "<NAMESPACE> *" + wanted;
      run = false;
    }
  }
  if (report) report->nameSpace = process_->Namespace();

  if (run) {
    SetParameter("P1", request.p1, request.keepP1);
    SetParameter("P2", request.p2, request.keepP2);
    mengine::Result result;
    try {
      const bool expression = !request.code.empty() && request.code.front() == '$';
      result = expression ? process_->Evaluate(request.code) : process_->Execute(request.code);
    } catch (const std::exception& e) {
      // Storage failures (a full disk, a key too long for the database) reach
      // the client as an error of this line; the server goes on.
      result.error = true;
      result.error_text = std::string("<DATABASE> ") + e.what();
    }
    if (result.error) {
      answer.error = 1;
      answer.errorName = result.error_text;
    } else if (result.has_value) {
      answer.value = std::move(result.value);
    }
  }
  try {
    host_.LineEnded(*activity_);
  } catch (const std::exception& e) {
    answer.error = 1;
    answer.errorName = std::string("<DATABASE> ") + e.what();
  }
  answer.p1 = process_->GetLocal("P1").value_or("");
  answer.p2 = process_->GetLocal("P2").value_or("");
  answer.nameSpace = process_->Namespace();
  if (report) {
    report->journaled = activity_->journaledUpdates - journaledBefore;
    report->unjournaled = activity_->unjournaledUpdates - unjournaledBefore;
  }
  return answer;
}

}  // namespace mserver
