// Installations through the link onto the M engine in this process: the
// same stages, no socket.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "app/driver.h"
#include "app/startup.h"
#include "distribution/codepage.h"
#include "dorpack/package_writer.h"
#include "fakes.h"
#include "inprocess_link.h"
#include "install_fixture.h"
#include "mengine/memory_host.h"
#include "scripted_ui.h"
#include "engine/connection.h"

namespace dorvik::testing {
namespace {

// A host whose server lists no namespace at all.
class HostWithoutNamespaces : public mengine::MemoryHost {
 public:
  std::vector<std::string> Namespaces() override {
    auto all = MemoryHost::Namespaces();
    return hide ? std::vector<std::string>{} : all;
  }
  bool hide = false;
};

class InProcessInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir = std::filesystem::temp_directory_path() / ("inprocess-test-" + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    link = std::make_unique<InProcessLink>(host);
    session = std::make_unique<Session>(FileLocations::In(dir), *link, ui, clock, settings);
    const auto bytes = dorpack::PackageBytes(
        MakePackage({{"VLIA", {"VLIA ;in process", "f() q 6*7"}}}, "chk^VLIC", {{"VLIC", {"VLIC", "chk() q \"\""}}}));
    std::ofstream(session->files.DataFilePath, std::ios::binary) << bytes;
    ASSERT_TRUE(StartSession(*session, {}).headerRead);
  }
  void TearDown() override {
    session.reset();
    link.reset();
    std::filesystem::remove_all(dir);
  }

  HostWithoutNamespaces host;
  std::filesystem::path dir;
  ScriptedUi ui;
  FakeClock clock;
  MemorySettings settings;
  std::unique_ptr<InProcessLink> link;
  std::unique_ptr<Session> session;
};

TEST_F(InProcessInstall, AWholeInstallationWithoutASocket) {
  const ConnectOutcome c = ConnectToServer(*session, "127.0.0.1", "1972");
  ASSERT_TRUE(c.ok) << (ui.messages.empty() ? "" : Cp1251ToUtf8(ui.messages.back()));
  std::vector<std::string> summary;
  ASSERT_TRUE(SwitchToNamespace(*session, {"USER", false, false, false}, summary));
  ASSERT_TRUE(RunInstallation(*session));
  EXPECT_EQ(link->Evaluate("$$f^VLIA"), "42");
  EXPECT_EQ(link->ErrorCode(), 0) << link->ErrorText();
}

TEST_F(InProcessInstall, AServerWithoutNamespacesKeepsTheUserOnTheConnectionPage) {
  host.hide = true;
  const ConnectOutcome c = ConnectToServer(*session, "127.0.0.1", "1972");
  EXPECT_FALSE(c.ok);
  EXPECT_TRUE(c.namespaces.empty());
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back(), Ru("Сервер не сообщил ни одной области для установки"));
  EXPECT_EQ(ui.calls.back(), "ShowWizard");
}

}  // namespace
}  // namespace dorvik::testing
