#include "inprocess_link.h"

#include "mengine/process.h"

namespace dorvik {

struct InProcessLink::State {
  explicit State(mengine::Host& h) : host(h) {}
  mengine::Host& host;
  std::unique_ptr<mengine::Process> process;
  std::string server, ns, p1, p2, value;
  int error = 0;
  std::string errorName;
};

InProcessLink::InProcessLink(mengine::Host& host) : s_(std::make_unique<State>(host)) {}
InProcessLink::~InProcessLink() = default;

void InProcessLink::SetServer(const std::string& server) { s_->server = server; }
std::string InProcessLink::GetServer() { return s_->server; }
void InProcessLink::SetNamespace(const std::string& ns) { s_->ns = ns; }
void InProcessLink::SetParam(int n, const std::string& value) { (n == 2 ? s_->p2 : s_->p1) = value; }
std::string InProcessLink::GetParam(int n) { return n == 2 ? s_->p2 : s_->p1; }
std::string InProcessLink::GetValue() { return s_->value; }
void InProcessLink::SetValue(const std::string& value) { s_->value = value; }
void InProcessLink::ClearError() {
  s_->error = 0;
  s_->errorName.clear();
}
int InProcessLink::ErrorCode() { return s_->error; }
std::string InProcessLink::ErrorText() { return s_->errorName; }

void InProcessLink::RunCode(const std::string& code) {
  s_->error = 0;
  s_->errorName.clear();
  if (!s_->process || s_->process->Halted()) {
    mengine::ProcessOptions options;
    options.ns = s_->ns;
    s_->process = std::make_unique<mengine::Process>(s_->host, options);
  }
  mengine::Process& p = *s_->process;
  if (!s_->ns.empty() && p.Namespace() != s_->ns && !p.SetNamespace(s_->ns)) {
    s_->error = 1;
    s_->errorName = "<NAMESPACE> " + s_->ns;
    return;
  }
  p.SetLocal("P1", s_->p1);
  p.SetLocal("P2", s_->p2);
  const bool expression = !code.empty() && code[0] == '$';
  const mengine::Result r = expression ? p.Evaluate(code) : p.Execute(code);
  s_->p1 = p.GetLocal("P1").value_or("");
  s_->p2 = p.GetLocal("P2").value_or("");
  if (expression && !r.error) s_->value = r.value;
  if (r.error) {
    s_->error = 1;
    s_->errorName = r.error_text;
  }
}

}  // namespace dorvik
