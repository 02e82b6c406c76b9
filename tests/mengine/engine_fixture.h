// Shared fixture: an in-memory host with one process whose output is kept.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mengine/memory_host.h"
#include "mengine/process.h"

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : process_(host_, Options()) {}

  mengine::ProcessOptions Options() {
    mengine::ProcessOptions o;
    o.output = &sink_;
    o.limits.max_steps = 5'000'000;
    return o;
  }

  // Runs a command line; answers its output, or "ERR " + $ZE on an error.
  std::string Run(const std::string& line) {
    mengine::Result r = process_.Execute(line);
    std::string out = sink_.Take();
    if (r.error) return "ERR " + r.error_text;
    return out;
  }

  // Evaluates an expression; answers its value, or "ERR " + $ZE.
  std::string Eval(const std::string& expr) {
    mengine::Result r = process_.Evaluate(expr);
    if (r.error) return "ERR " + r.error_text;
    return r.value;
  }

  void Save(const std::string& name, const std::vector<std::string>& lines, const std::string& ns = "USER") {
    host_.SaveRoutine(ns, name, lines);
  }

  mengine::MemoryHost host_;
  mengine::StringSink sink_;
  mengine::Process process_;
};
