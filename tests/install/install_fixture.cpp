#include "install_fixture.h"

#include <fstream>
#include <random>

#include "app/startup.h"
#include "app/driver.h"
#include "distribution/funcs.h"
#include "dorpack/package_writer.h"
#include "engine/connection.h"

namespace dorvik::testing {

namespace {

dorpack::PackText Text(const std::string& bytes) {
  dorpack::PackText t;
  t.bytes = bytes;
  return t;
}

std::vector<dorpack::RoutineSpec> Specs(const std::vector<TestRoutine>& routines) {
  std::vector<dorpack::RoutineSpec> specs;
  for (const auto& r : routines) {
    dorpack::RoutineSpec spec;
    spec.name = r.name;
    spec.lines = r.lines;
    spec.file = r.name + ".m";
    specs.push_back(spec);
  }
  return specs;
}

}  // namespace

dorpack::Package MakePackage(const std::vector<TestRoutine>& routines, const std::string& checkLabel,
                             const std::vector<TestRoutine>& checkRoutines) {
  dorpack::Package p;
  p.product = Text("\x92\xA5\xE1\xE2");  // "Тест" in code page 866
  p.version = Text("1.0");
  p.buildDate = Text("08.12.2026");
  p.password = Text("secret");
  p.checkLabel = Text(checkLabel);
  p.checkRoutines = Specs(checkRoutines);
  p.routines = Specs(routines);
  return p;
}

void InstallTest::SetUp() {
  server = std::make_unique<MServerProcess>(MSERVER_BINARY);
  std::random_device rd;
  dir = std::filesystem::temp_directory_path() / ("install-test-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  link = std::make_unique<TcpLink>();
  session = std::make_unique<Session>(FileLocations::In(dir), *link, ui, clock, settings);
}

void InstallTest::TearDown() {
  session.reset();
  link.reset();
  server.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

void InstallTest::Prepare(const dorpack::Package& package, const std::vector<std::string>& args,
                          const std::function<void(std::string&)>& edit) {
  std::string bytes = dorpack::PackageBytes(package);
  if (edit) edit(bytes);
  std::ofstream out(session->files.DataFilePath, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  const StartupResult r = StartSession(*session, args);
  ASSERT_TRUE(r.headerRead);
}

bool InstallTest::Install(const std::string& ns) {
  const ConnectOutcome c = ConnectToServer(*session, "127.0.0.1", std::to_string(server->Port()));
  EXPECT_TRUE(c.ok) << (ui.messages.empty() ? "" : ui.messages.back());
  if (!c.ok) return false;
  std::vector<std::string> summary;
  NamespaceChoice choice;
  choice.ns = ns;
  choice.keepSources = session->options.KeepSources;
  choice.noRestore = !session->options.RestoreRoutines;
  choice.noAfter = !session->options.RunPostActions;
  EXPECT_TRUE(SwitchToNamespace(*session, choice, summary));
  return RunInstallation(*session);
}

// The session's link may still await answers to its last lines; taking
// them first means every line it sent has run before the server is looked at.
void InstallTest::LetTheLinkCatchUp() const {
  if (link) link->ErrorCode();
}

std::string InstallTest::Query(const std::string& expression, const std::string& ns) {
  LetTheLinkCatchUp();
  TcpLink probe;
  probe.SetServer(BuildServerString("127.0.0.1", std::to_string(server->Port())));
  probe.SetNamespace(ns);
  const std::string value = probe.Evaluate(expression);
  EXPECT_EQ(probe.ErrorCode(), 0) << expression << ": " << probe.ErrorText();
  return value;
}

std::vector<std::string> InstallTest::TranscriptWith(const std::string& code) const {
  LetTheLinkCatchUp();
  std::vector<std::string> out;
  for (const auto& line : server->TranscriptLines()) {
    const auto at = line.find("\tcode=" + code + "\t");
    if (at != std::string::npos) out.push_back(line);
  }
  return out;
}

::testing::AssertionResult InstallTest::LogHasInOrder(const std::vector<std::string>& wanted) const {
  const auto& lines = session->log.Lines();
  std::size_t at = 0;
  for (const auto& w : wanted) {
    while (at < lines.size() && lines[at] != w) ++at;
    if (at == lines.size()) return ::testing::AssertionFailure() << "log lacks, in order: " << w;
    ++at;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace dorvik::testing
