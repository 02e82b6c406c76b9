#include "inprocess_link.h"

#include "mengine/process.h"

namespace dorvik {

InProcessLink::InProcessLink(mengine::Host& host) : host_(host) {}
InProcessLink::~InProcessLink() = default;

void InProcessLink::RunCode(const std::string& code) {
  ClearError();
  if (!process_ || process_->Halted()) {
    mengine::ProcessOptions options;
    options.ns = ns_;
    process_ = std::make_unique<mengine::Process>(host_, options);
  }
  mengine::Process& p = *process_;
  if (!ns_.empty() && p.Namespace() != ns_ && !p.SetNamespace(ns_)) {
    SetError(1, "<NAMESPACE> " + ns_);
    return;
  }
  p.SetLocal("P1", p1_);
  p.SetLocal("P2", p2_);
  const bool expression = !code.empty() && code[0] == '$';
  const mengine::Result r = expression ? p.Evaluate(code) : p.Execute(code);
  p1_ = p.GetLocal("P1").value_or("");
  p2_ = p.GetLocal("P2").value_or("");
  if (expression && !r.error) value_ = r.value;
  if (r.error) SetError(1, r.error_text);
}

}  // namespace dorvik
