// A whole installation against a real mserver: a distribution written into
// a fresh program folder, a session on a scripted interface and a fixed
// clock, and a second connection to look at the server afterwards.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dorpack/package.h"
#include "fakes.h"
#include "mserver_process.h"
#include "scripted_ui.h"
#include "core/session.h"
#include "link/tcp_link.h"

namespace dorvik::testing {

struct TestRoutine {
  std::string name;
  std::vector<std::string> lines;  // without the name line
};

// A package with the given routines and nothing else.
dorpack::Package MakePackage(const std::vector<TestRoutine>& routines, const std::string& checkLabel = "",
                             const std::vector<TestRoutine>& checkRoutines = {});

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the distribution (its bytes passed through `edit` when given)
  // and starts the session as the programs do.
  void Prepare(const dorpack::Package& package, const std::vector<std::string>& args = {},
               const std::function<void(std::string&)>& edit = {});
  // Connects, chooses the namespace and installs; answers the driver's result.
  bool Install(const std::string& ns = "USER");
  // Evaluates an expression on the server through another connection.
  std::string Query(const std::string& expression, const std::string& ns = "USER");
  // The transcript lines whose code is exactly `code`.
  std::vector<std::string> TranscriptWith(const std::string& code) const;
  // Waits until every line the session's link sent has run.
  void LetTheLinkCatchUp() const;
  // Whether `wanted` occurs in the log in this order (other lines between).
  ::testing::AssertionResult LogHasInOrder(const std::vector<std::string>& wanted) const;

  std::unique_ptr<MServerProcess> server;
  std::filesystem::path dir;
  ScriptedUi ui;
  FakeClock clock;
  MemorySettings settings;
  std::unique_ptr<TcpLink> link;
  std::unique_ptr<Session> session;
};

}  // namespace dorvik::testing
