// Differential test against GT.M, which implements the ANSI core that it
// shares with the Cache dialect. Every case of gtm_corpus.txt runs in GT.M
// (all in one `mumps -run`) and in this engine, and the outputs must agree;
// a case where the dialects differ carries the Cache answer and the reason,
// and this engine must give the Cache answer.
//
// Corpus format: "= expr" is a case that writes one expression; a run of
// "> line" lines is a program (routine lines, run with DO); "~ output | reason"
// after a case marks a dialect difference ("\n" in the output is a newline).
// Blank lines and lines starting with '#' are ignored.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gtm_location.h"
#include "mengine/memory_host.h"
#include "mengine/process.h"

namespace {

namespace fs = std::filesystem;
using dorvik::testing::FindGtm;

struct Case {
  int line = 0;
  std::string expression;            // expression case
  std::vector<std::string> program;  // program case
  bool differs = false;
  std::string cache_output;
  std::string reason;
};

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
      out.push_back('\n');
      ++i;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::vector<Case> LoadCorpus(const std::string& path) {
  std::ifstream in(path);
  std::vector<Case> cases;
  std::string line;
  int number = 0;
  bool in_program = false;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') {
      in_program = false;
      continue;
    }
    if (line.rfind("= ", 0) == 0) {
      Case c;
      c.line = number;
      c.expression = line.substr(2);
      cases.push_back(c);
      in_program = false;
    } else if (line.rfind("> ", 0) == 0 || line == ">") {
      if (!in_program) {
        Case c;
        c.line = number;
        cases.push_back(c);
        in_program = true;
      }
      cases.back().program.push_back(line.size() > 2 ? line.substr(2) : std::string());
    } else if (line.rfind("~ ", 0) == 0 && !cases.empty()) {
      auto bar = line.find(" | ");
      cases.back().differs = true;
      cases.back().cache_output = Unescape(line.substr(2, bar == std::string::npos ? std::string::npos : bar - 2));
      cases.back().reason = bar == std::string::npos ? "" : line.substr(bar + 3);
      in_program = false;
    }
  }
  return cases;
}

std::vector<std::string> RoutineLines(const Case& c, const std::string& name) {
  std::vector<std::string> lines{name + " ; corpus case"};
  if (!c.expression.empty()) {
    lines.push_back(" w " + c.expression + ",!");
    lines.push_back(" q");
  } else {
    for (const auto& l : c.program) lines.push_back(l);
    lines.push_back(" q");
  }
  return lines;
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  pclose(pipe);
  return out;
}

// Runs every case in one GT.M process; answers the output of each.
std::map<int, std::string> RunGtm(const std::string& dist, const std::vector<Case>& cases) {
  fs::path dir = fs::temp_directory_path() / ("mengine-gtm-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    std::string name = "tc" + std::to_string(i + 1);
    std::ofstream out(dir / (name + ".m"), std::ios::binary);
    for (const auto& l : RoutineLines(cases[i], name)) out << l << "\n";
  }
  {
    std::ofstream drv(dir / "drv.m", std::ios::binary);
    // The case counter lives in a global: cases may kill every local.
    drv << "drv ; corpus driver\n"
        << " s ^zzdrv=0 s $etrap=\"w \"\"ERR\"\",! s $ecode=\"\"\"\" zg \"_$zl_\":nx^drv\"\n"
        << "nx k  s ^zzdrv=^zzdrv+1 q:^zzdrv>" << cases.size() << "  w $c(1),^zzdrv,! d @(\"^tc\"_^zzdrv) g nx\n";
  }
  std::string env = "cd " + dir.string() + " && export gtm_dist=" + dist + " gtmroutines='" + dir.string() + " " +
                    dist + "/libgtmutil.so' gtmgbldir=" + (dir / "g.gld").string() + " && ";
  Shell(env + "printf 'change -segment DEFAULT -file_name=" + (dir / "g.dat").string() +
        "\\nexit\\n' | $gtm_dist/mumps -run GDE >/dev/null 2>&1 && $gtm_dist/mupip create >/dev/null 2>&1");
  std::string output = Shell(env + "$gtm_dist/mumps -run drv 2>/dev/null");
  fs::remove_all(dir);
  std::map<int, std::string> results;
  int current = 0;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '\x01') {
      current = std::atoi(line.c_str() + 1);
      results[current];
      continue;
    }
    if (current) results[current] += line + "\n";
  }
  return results;
}

std::string RunEngine(const Case& c, const std::string& name) {
  mengine::MemoryHost host;
  mengine::StringSink sink;
  mengine::ProcessOptions options;
  options.output = &sink;
  options.limits.max_steps = 2'000'000;
  mengine::Process p(host, options);
  host.SaveRoutine("USER", name, RoutineLines(c, name));
  mengine::Result r = p.Execute("d ^" + name);
  std::string out = sink.Take();
  if (r.error) {
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    out += "ERR\r\n";
  }
  std::string normalized;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    normalized.push_back(out[i]);
  }
  return normalized;
}

std::string Describe(const Case& c) {
  std::string text = "corpus line " + std::to_string(c.line) + ": ";
  if (!c.expression.empty()) return text + c.expression;
  for (const auto& l : c.program) text += "\n    " + l;
  return text;
}

TEST(GtmDifferential, CorpusAgreesWithGtm) {
  std::string dist = FindGtm();
  if (dist.empty())
    GTEST_SKIP() << "GT.M is not installed (Debian package fis-gtm, or set gtm_dist): "
                    "the differential test needs its mumps";
  auto cases = LoadCorpus(MENGINE_CORPUS);
  ASSERT_GT(cases.size(), 300u) << "corpus not found or too small: " << MENGINE_CORPUS;
  auto gtm = RunGtm(dist, cases);
  ASSERT_EQ(gtm.size(), cases.size()) << "GT.M did not run every case";
  int agreed = 0, differences = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    std::string ours = RunEngine(c, "tc" + std::to_string(i + 1));
    const std::string& theirs = gtm[static_cast<int>(i + 1)];
    if (c.differs) {
      ++differences;
      EXPECT_EQ(ours, c.cache_output) << Describe(c) << "\n  dialect difference: " << c.reason
                                      << "\n  GT.M gave: " << theirs;
      continue;
    }
    EXPECT_EQ(ours, theirs) << Describe(c);
    if (ours == theirs) ++agreed;
  }
  std::printf("GT.M differential: %zu cases, %d agree, %d listed dialect differences\n", cases.size(), agreed,
              differences);
}

}  // namespace
