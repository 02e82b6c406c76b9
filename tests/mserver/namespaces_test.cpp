// Namespaces as the installer sees them, the % mapping, the journaling
// switch, and what the handshake announces.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "routine_upload.h"
#include "server_fixture.h"

namespace mserver_test {
namespace {

TEST(Namespaces, ListingSwitchingAndPercentMapping) {
  TempDir data;
  ServerProcess server(data.path());
  mlink::Client c = server.Connect();

  EXPECT_EQ(Call(c, "$ZNSPACE", "%SYS").value, "%SYS");
  EXPECT_NE(Call(c, "$ZVERSION", "%SYS").value.find("Velmora M test server"), std::string::npos);
  ASSERT_EQ(Call(c, "$zu(90,0)", "%SYS").value, "4");
  std::vector<std::string> names;
  for (int n = 1; n <= 4; ++n) names.push_back(Call(c, "$zu(90,2,0,P1)", "%SYS", std::to_string(n)).value);
  EXPECT_EQ(names, (std::vector<std::string>{"%CACHELIB", "%SYS", "SAMPLES", "USER"}));

  // Names are case-insensitive and shown in upper case.
  EXPECT_EQ(Call(c, "$ZNSPACE", "samples").value, "SAMPLES");
  auto bad = Call(c, "$ZNSPACE", "NOSUCH");
  EXPECT_NE(bad.error, 0);
  EXPECT_NE(bad.errorName.find("<NAMESPACE>"), std::string::npos);
  EXPECT_NE(Call(c, "zn \"NOSUCH\"", "USER").error, 0);
  EXPECT_NE(Call(c, "s $ZNSPACE=\"NOSUCH\"", "USER").error, 0);
  EXPECT_EQ(Call(c, "$ZNSPACE", "USER").value, "USER");
  // ZNSPACE in the code moves the process; the answer says where it is.
  auto moved = Call(c, "zn \"SAMPLES\"", "USER");
  EXPECT_EQ(moved.error, 0) << moved.errorName;
  EXPECT_EQ(moved.nameSpace, "SAMPLES");

  // Ordinary globals belong to their namespace; % globals and % routines
  // live in %SYS and are seen everywhere.
  ASSERT_EQ(Call(c, "s ^G=\"user\",^%G=\"all\"", "USER").error, 0);
  EXPECT_EQ(Call(c, "$d(^G)_\"/\"_$g(^%G)", "SAMPLES").value, "0/all");
  EXPECT_EQ(Call(c, "$g(^%G)", "%SYS").value, "all");
  ASSERT_EQ(UploadRoutine(c, "%SYS", {"%VZT", "%VZT ;", "x() q \"pct\""}, true), "");
  EXPECT_EQ(Call(c, "$$x^%VZT", "SAMPLES").value, "pct");
  EXPECT_EQ(Call(c, "$d(^ROUTINE(\"%VZT\"))_$d(^rOBJ(\"%VZT\"))", "%SYS").value, "101");
  // The routine globals' nodes of a % routine are mapped with the routine:
  // any namespace sees them, and killing its source from any namespace
  // removes the one source there is.
  EXPECT_EQ(Call(c, "$d(^rOBJ(\"%VZT\"))", "USER").value, "1");
  ASSERT_EQ(Call(c, "k ^ROUTINE(\"%VZT\")", "USER").error, 0);
  EXPECT_EQ(Call(c, "$d(^ROUTINE(\"%VZT\"))", "%SYS").value, "0");
  EXPECT_EQ(Call(c, "$T(x^%VZT)", "SAMPLES").value, "");
  EXPECT_EQ(Call(c, "$$x^%VZT", "SAMPLES").value, "pct");
}

TEST(Namespaces, ConfiguredSetAlwaysHasSys) {
  TempDir data;
  ServerProcess server(data.path(), {"--namespace", "prod", "--namespace", "Test"});
  mlink::Client c = server.Connect();
  EXPECT_EQ(Call(c, "$zu(90,0)", "%SYS").value, "3");
  EXPECT_EQ(Call(c, "$zu(90,2,0,1)_\",\"_$zu(90,2,0,2)_\",\"_$zu(90,2,0,3)", "%SYS").value, "%SYS,PROD,TEST");
  EXPECT_NE(Call(c, "$ZNSPACE", "USER").error, 0);
}

TEST(Journaling, SwitchedPerProcessAndRecordedInTheTranscript) {
  TempDir data;
  TempDir logs;
  const auto file = logs.path() / "t.txt";
  const auto journalFile = logs.path() / "journal.txt";
  std::string jobNumber;
  {
    ServerProcess server(data.path(), {"--transcript", file.string(), "--journal", journalFile.string()});
    mlink::Client a = server.Connect();
    mlink::Client b = server.Connect();
    ASSERT_EQ(Call(a, "d DISABLE^%NOJRN").error, 0);
    ASSERT_EQ(Call(a, "s ^J(1)=1,^J(2)=2").error, 0);
    ASSERT_EQ(Call(b, "s ^J(3)=3").error, 0);  // b still journals
    ASSERT_EQ(Call(a, "d ENABLE^%NOJRN").error, 0);
    ASSERT_EQ(Call(a, "s ^J(4)=4").error, 0);
    // A job journals its own updates; killing a subtree is one entry.
    ASSERT_EQ(UploadRoutine(b, "USER", {"JJ", "JJ ;", "go s ^J(\"job\",1)=\"x\" k ^J(\"job\")"}, true), "");
    ASSERT_EQ(Call(b, "d DISABLE^%NOJRN j go^JJ::5").error, 0);
    for (int i = 0; i < 100 && server.log().find(" ended") == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_NE(lines[1].find("journal=off\tP1=\tP2=\tcode=s ^J(1)=1,^J(2)=2\tok value=\tupdates=0/2"), std::string::npos)
      << lines[1];
  EXPECT_NE(lines[2].find("journal=on\tP1=\tP2=\tcode=s ^J(3)=3\tok value=\tupdates=1/0"), std::string::npos)
      << lines[2];
  EXPECT_NE(lines[4].find("journal=on\tP1=\tP2=\tcode=s ^J(4)=4\tok value=\tupdates=1/0"), std::string::npos)
      << lines[4];

  // The journal holds exactly the updates made with journaling on, in order.
  std::ifstream journal(journalFile);
  std::vector<std::string> entries;
  for (std::string line; std::getline(journal, line);) {
    if (line.find("\tSET\t^J(") != std::string::npos || line.find("\tKILL\t^J(") != std::string::npos) {
      entries.push_back(line.substr(line.find("\tns=")));
    }
  }
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0], "\tns=USER\tSET\t^J(3)\tvalue=3");
  EXPECT_EQ(entries[1], "\tns=USER\tSET\t^J(4)\tvalue=4");
  EXPECT_EQ(entries[2], "\tns=USER\tSET\t^J(\"job\",1)\tvalue=x");
  EXPECT_EQ(entries[3], "\tns=USER\tKILL\t^J(\"job\")");
}

TEST(Handshake, AnnouncesAnAddressOnlyWhenToldTo) {
  TempDir data;
  {
    // The listening address would be wrong for a client behind a port
    // forward: nothing is announced, and the client keeps its own.
    ServerProcess server(data.path());
    mlink::Client c = server.Connect();
    EXPECT_EQ(c.welcome().serverAddress, "");
    EXPECT_EQ(c.welcome().process, Call(c, "$J").value);
  }
  ServerProcess server(data.path(), {"--advertise", "10.1.2.3:56773"});
  mlink::Client c = server.Connect();
  EXPECT_EQ(c.welcome().serverAddress, "10.1.2.3:56773");
}

}  // namespace
}  // namespace mserver_test
