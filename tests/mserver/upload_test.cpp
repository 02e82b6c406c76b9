// The installer's routine upload, line for line, against a real server: the
// saved routine runs, with and without its source, from other connections
// and after a restart.
#include <gtest/gtest.h>

#include <fstream>

#include "routine_upload.h"
#include "server_fixture.h"

namespace mserver_test {
namespace {

std::vector<std::string> SampleRoutine() {
  return {"UPLT", "UPLT ;sample routine", " q", "add(a,b) q a+b", "greet(n) q \"" + Cp866("Привет, ") + "\"_n"};
}

TEST(Upload, SavedRoutineRunsWithAndWithoutItsSource) {
  TempDir data;
  TempDir logs;
  const auto transcriptFile = logs.path() / "transcript.txt";
  std::vector<std::string> lines = SampleRoutine();
  {
    ServerProcess server(data.path(), {"--transcript", transcriptFile.string()});
    mlink::Client c = server.Connect();
    ASSERT_EQ(Call(c, "s ^rMAC(\"UPLT\")=\"macro\",^rMAC(\"OTHER\")=1").error, 0);

    // Small chunks: lines 1-3 go as text(1), the rest in later nodes.
    int chunks = 0;
    ASSERT_EQ(UploadRoutine(c, "USER", lines, /*keepSources=*/true, 30, &chunks), "");
    EXPECT_GT(chunks, 1);
    EXPECT_EQ(Call(c, "$$add^UPLT(2,40)").value, "42");
    EXPECT_EQ(Call(c, "$$greet^UPLT(\"Bob\")").value, Cp866("Привет, ") + "Bob");
    EXPECT_EQ(Call(c, "$T(add^UPLT)").value, "add(a,b) q a+b");
    EXPECT_EQ(Call(c, "$g(^ROUTINE(\"UPLT\",0,0))").value, "4");
    EXPECT_EQ(Call(c, "$g(^ROUTINE(\"UPLT\",0,3))").value, "add(a,b) q a+b");
    EXPECT_EQ(Call(c, "$d(^rOBJ(\"UPLT\"))").value, "1");
    EXPECT_NE(Call(c, "$g(^ROUTINE(\"UPLT\",0))").value.find(','), std::string::npos);
    // The macro source of this routine only is gone; the array was killed.
    EXPECT_EQ(Call(c, "$d(^rMAC(\"UPLT\"))_$d(^rMAC(\"OTHER\"))").value, "01");
    EXPECT_EQ(Call(c, "$d(text)").value, "0");

    // Saving again without sources: the new version runs, the source is gone.
    lines[3] = "add(a,b) q a+b+1";
    ASSERT_EQ(UploadRoutine(c, "USER", lines, /*keepSources=*/false), "");
    EXPECT_EQ(Call(c, "$$add^UPLT(2,40)").value, "43");
    EXPECT_EQ(Call(c, "$d(^ROUTINE(\"UPLT\"))").value, "0");

    // Another connection (another process) runs the routine too.
    mlink::Client other = server.Connect();
    EXPECT_EQ(Call(other, "$$add^UPLT(1,1)").value, "3");
    // Not seen from another namespace.
    EXPECT_NE(Call(other, "$$add^UPLT(1,1)", "SAMPLES").error, 0);
    EXPECT_EQ(server.Terminate(), 0);
  }
  {
    ServerProcess server(data.path());
    mlink::Client c = server.Connect();
    EXPECT_EQ(Call(c, "$$add^UPLT(2,40)").value, "43");
  }

  // The transcript has one line per request, in order, with P1 and P2.
  std::ifstream in(transcriptFile);
  std::vector<std::string> recorded;
  for (std::string line; std::getline(in, line);) recorded.push_back(line);
  auto find = [&](const std::string& needle) {
    for (std::size_t i = 0; i < recorded.size(); ++i) {
      if (recorded[i].find(needle) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
  };
  const int fill = find("\tP1=1\tP2=UPLT ;sample routine\\r\\n q\\r\\nadd(a,b) q a+b\tcode=s text(P1)=P2");
  const int save = find("code=" + SaveLine("UPLT"));
  ASSERT_GE(fill, 0);
  EXPECT_GT(save, fill);
  EXPECT_NE(find("\tns=USER\tjournal=on\tP1=UPLT\tP2=\tcode=k ^ROUTINE(P1)\tok value=\t"), -1);
}

// A routine saved without its source still runs, but $TEXT finds nothing;
// a later save with its source shows the text again.
TEST(Upload, TextFindsNoSourceOnceItIsKilled) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client c = server.Connect();
  ASSERT_EQ(UploadRoutine(c, "USER", SampleRoutine(), /*keepSources=*/false), "");
  EXPECT_EQ(Call(c, "$$add^UPLT(2,40)").value, "42");
  EXPECT_EQ(Call(c, "$T(add^UPLT)").value, "");
  ASSERT_EQ(UploadRoutine(c, "USER", SampleRoutine(), /*keepSources=*/true), "");
  EXPECT_NE(Call(c, "$T(add^UPLT)").value, "");
}

TEST(Upload, SaveFailureIsReportedAndLeavesTheOldRoutine) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client c = server.Connect();
  ASSERT_EQ(UploadRoutine(c, "USER", {"KEEP", "KEEP ;", "one() q 1"}, true), "");
  // A failing save line (an undefined variable before ZS) reports an error.
  auto a = Call(c, "ZR  ZI \"KEEP ;\" ZI \"one() q 2\" s x=undefinedvar ZS KEEP");
  EXPECT_NE(a.error, 0);
  EXPECT_NE(a.errorName.find("<UNDEFINED>"), std::string::npos) << a.errorName;
  EXPECT_EQ(Call(c, "$$one^KEEP").value, "1");
}

}  // namespace
}  // namespace mserver_test
