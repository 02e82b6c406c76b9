// What the wizard model's tests share: a front end that answers the model's
// prompts from a script and runs its server steps on a real link thread, a
// link that notes every call made from another thread than the one that
// created it, and a session on a distribution in a scratch folder with a
// server in this process.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/session.h"
#include "fakes.h"
#include "mengine/memory_host.h"
#include "scripted_ui.h"
#include "wizard_model/link_thread.h"
#include "wizard_model/wizard_model.h"

namespace dorvik::testing {

// What the link saw, kept apart from it so it can be read after the link
// is gone.
struct LinkWatch {
  std::atomic<int> calls{0};
  // Calls made on another thread than the one that created the link.
  std::atomic<int> foreignCalls{0};
  std::atomic<bool> destroyedOnOwnThread{false};
  // The next RunCode throws, as a broken client would.
  std::atomic<bool> failNext{false};
};

class WatchedLink : public ServerLink {
 public:
  WatchedLink(std::unique_ptr<ServerLink> inner, LinkWatch& watch);
  ~WatchedLink() override;
  void SetServer(const std::string& server) override;
  std::string GetServer() override;
  void SetNamespace(const std::string& ns) override;
  void SetParam(int n, const std::string& value) override;
  std::string GetParam(int n) override;
  void RunCode(const std::string& code) override;
  void Execute(const std::string& code) override;
  std::string GetValue() override;
  void SetValue(const std::string& value) override;
  void ClearError() override;
  int ErrorCode() override;
  std::string ErrorText() override;

 private:
  ServerLink& Checked();
  std::unique_ptr<ServerLink> inner_;
  LinkWatch& watch_;
  std::thread::id owner_;
};

class ScriptedFrontEnd : public WizardFrontEnd {
 public:
  explicit ScriptedFrontEnd(LinkThread*& link) : link_(link) {}

  std::vector<Prompt> prompts;
  // Answers, taken in order; an unscripted prompt fails the test and
  // answers "not accepted" (a message needs none).
  std::deque<Answer> answers;
  int refreshes = 0;
  int terminations = 0;
  int serverSteps = 0;

  Answer Ask(const Prompt& prompt) override;
  void RunOnLinkThread(const std::function<void()>& call) override;
  void Refresh() override { ++refreshes; }
  void Terminate() override { ++terminations; }

 private:
  LinkThread*& link_;
};

Answer Yes();
Answer No();
Answer Typed(const std::string& text, bool accepted = true);

// The distribution of the tests: product "Склад", version "3.1", build
// "08.12.2026", password "Пароль7", a check label and two routines, whose
// names begin with "%" in a library distribution.
std::string SampleDistributionBytes(bool library = false);

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The distribution, a licence when `licence` is given (UTF-8, written as
  // code page 1251); then the session and the model, and the creation
  // handler with `args`.
  void Start(std::optional<std::string> licence = std::nullopt, const std::vector<std::string>& args = {},
             bool withDistribution = true, bool library = false);
  // Runs the actions that lead from the welcome page to `page` (a licence
  // is accepted on the way) and checks that each arrived.
  void Reach(Page page);
  std::vector<std::string> PromptTexts() const;

  std::filesystem::path dir;
  // The server in this process; a fresh one for each SetUp.
  std::unique_ptr<mengine::MemoryHost> host;
  LinkWatch watch;
  ScriptedUi ui;
  FakeClock clock;
  MemorySettings settings;
  LinkThread* linkPtr = nullptr;
  ScriptedFrontEnd front{linkPtr};
  std::unique_ptr<LinkThread> link;
  std::unique_ptr<Session> session;
  std::unique_ptr<WizardModel> model;
};

}  // namespace dorvik::testing
