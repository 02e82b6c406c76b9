#include "model_fixture.h"

#include <fstream>
#include <random>

#include "distribution/codepage.h"
#include "dorpack/package_writer.h"
#include "inprocess_link.h"

namespace dorvik::testing {

WatchedLink::WatchedLink(std::unique_ptr<ServerLink> inner, LinkWatch& watch)
    : inner_(std::move(inner)), watch_(watch), owner_(std::this_thread::get_id()) {}

WatchedLink::~WatchedLink() { watch_.destroyedOnOwnThread = std::this_thread::get_id() == owner_; }

ServerLink& WatchedLink::Checked() {
  ++watch_.calls;
  if (std::this_thread::get_id() != owner_) ++watch_.foreignCalls;
  return *inner_;
}

void WatchedLink::SetServer(const std::string& server) { Checked().SetServer(server); }
std::string WatchedLink::GetServer() { return Checked().GetServer(); }
void WatchedLink::SetNamespace(const std::string& ns) { Checked().SetNamespace(ns); }
void WatchedLink::SetParam(int n, const std::string& value) { Checked().SetParam(n, value); }
std::string WatchedLink::GetParam(int n) { return Checked().GetParam(n); }
void WatchedLink::RunCode(const std::string& code) {
  ServerLink& inner = Checked();
  if (watch_.failNext.exchange(false)) throw std::runtime_error("the client stopped answering");
  inner.RunCode(code);
}
void WatchedLink::Execute(const std::string& code) { RunCode(code); }
std::string WatchedLink::GetValue() { return Checked().GetValue(); }
void WatchedLink::SetValue(const std::string& value) { Checked().SetValue(value); }
void WatchedLink::ClearError() { Checked().ClearError(); }
int WatchedLink::ErrorCode() { return Checked().ErrorCode(); }
std::string WatchedLink::ErrorText() { return Checked().ErrorText(); }

Answer ScriptedFrontEnd::Ask(const Prompt& prompt) {
  prompts.push_back(prompt);
  if (prompt.kind == PromptKind::Message) return {};
  if (answers.empty()) {
    ADD_FAILURE() << "unscripted prompt: " << Cp1251ToUtf8(prompt.text);
    return {};
  }
  Answer answer = answers.front();
  answers.pop_front();
  return answer;
}

void ScriptedFrontEnd::RunOnLinkThread(const std::function<void()>& call) {
  ++serverSteps;
  link_->Post(call).get();
}

Answer Yes() { return {true, std::nullopt}; }
Answer No() { return {false, std::nullopt}; }
Answer Typed(const std::string& text, bool accepted) { return {accepted, Ru(text)}; }

namespace {

dorpack::PackText Text(const std::string& bytes) { return {bytes, {}}; }

dorpack::RoutineSpec Routine(const std::string& name, std::vector<std::string> lines) {
  return {name, std::move(lines), name + ".int"};
}

}  // namespace

std::string SampleDistributionBytes(bool library) {
  dorpack::Package p;
  p.product = Text(Utf8ToCp866("Склад"));
  p.version = Text("3.1");
  p.buildDate = Text("08.12.2026");
  p.password = Text(Utf8ToCp866("Пароль7"));
  p.checkLabel = Text("chk^VMC");
  p.checkRoutines = {Routine("VMC", {"VMC", "chk() q \"\""})};
  const std::string prefix = library ? "%" : "";
  p.routines = {Routine(prefix + "VMA", {prefix + "VMA ;first", "f() q 6*7"}),
                Routine(prefix + "VMB", {prefix + "VMB ;second", "g() q 1"})};
  return dorpack::PackageBytes(p);
}

void ModelTest::SetUp() {
  std::random_device random;
  dir = std::filesystem::temp_directory_path() / ("wizard-model-test-" + std::to_string(random()));
  std::filesystem::create_directories(dir);
  host = std::make_unique<mengine::MemoryHost>();
  link = std::make_unique<LinkThread>(
      [this] { return std::make_unique<WatchedLink>(std::make_unique<InProcessLink>(*host), watch); });
  linkPtr = link.get();
}

void ModelTest::TearDown() {
  model.reset();
  session.reset();
  link.reset();
  host.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

void ModelTest::Start(std::optional<std::string> licence, const std::vector<std::string>& args, bool withDistribution,
                      bool library) {
  if (withDistribution) std::ofstream(dir / "dorpack.dat", std::ios::binary) << SampleDistributionBytes(library);
  if (licence) std::ofstream(dir / "licence.txt", std::ios::binary) << Utf8ToCp1251(*licence);
  session = std::make_unique<Session>(FileLocations::In(dir), link->Link(), ui, clock, settings);
  model = std::make_unique<WizardModel>(*session, front);
  model->FormCreate(args);
}

void ModelTest::Reach(Page page) {
  const std::vector<std::pair<Action, Page>> road = {
      {Action::act0go, model->LicencePresent() ? Page::tsLicence : Page::tsParams},
      {Action::act1Yes, Page::tsParams},
      {Action::act2go, Page::tsNS},
      {Action::act25go, Page::tsInstall},
      {Action::act3Install, Page::tsFinal},
  };
  for (const auto& [action, arrives] : road) {
    if (model->CurrentPage() == page) return;
    if (action == Action::act1Yes && model->CurrentPage() != Page::tsLicence) continue;
    model->Trigger(action);
    ASSERT_EQ(model->CurrentPage(), arrives) << ActionName(action);
  }
  ASSERT_EQ(model->CurrentPage(), page);
}

std::vector<std::string> ModelTest::PromptTexts() const {
  std::vector<std::string> texts;
  for (const Prompt& prompt : front.prompts) texts.push_back(prompt.text);
  return texts;
}

}  // namespace dorvik::testing
