// The backup set's closing check and how sets are read, on the M engine in
// this process: a set is complete only when the server finds a whole copy
// of every routine it was to copy.
#include <gtest/gtest.h>

#include "distribution/codepage.h"
#include "engine/backup.h"
#include "inprocess_link.h"
#include "mengine/memory_host.h"

namespace dorvik {
namespace {

class BackupSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    link.SetNamespace("USER");
    // The routine's globals as a server keeps them (the engine in this
    // process keeps its routines elsewhere; the backup sees only globals).
    Run("s ^ROUTINE(\"OLD\",0,0)=1,^ROUTINE(\"OLD\",0,1)=\"OLD ;old\",^rOBJ(\"OLD\")=\"old\"");
    dist.ProductName = Ru("Склад");
    dist.Version = "5.0";
    dist.BuildDate = "09.12.2026";
  }

  void Run(const std::string& code, const std::string& p1 = "") {
    link.SetParam(1, p1);
    link.ClearError();
    link.RunCode(code);
    ASSERT_EQ(link.ErrorCode(), 0) << code << ": " << link.ErrorText();
  }

  mengine::MemoryHost host;
  InProcessLink link{host};
  Distribution dist;
};

// One row per way a set can fall short before it is closed.
TEST_F(BackupSetTest, ClosesOnlyWhenEveryRoutineHasAWholeCopy) {
  struct Case {
    const char* what;
    std::size_t planned;
    const char* spoil;    // M code run on set P1 before it is closed
    const char* failure;  // "" when the set closes
  };
  const std::vector<Case> cases = {
      {"every copy whole", 2, "", ""},
      {"a record lost", 2, "k ^DorvikBackup(P1,\"r\",\"OLD\")", "копия неполна: нет копии у 1 программ из 2"},
      {"copies without their record", 2,
       "k ^DorvikBackup(P1,\"r\",\"NEW\") s ^DorvikBackup(P1,\"r\",\"NEW\",\"rOBJ\")=1",
       "копия неполна: нет копии у 1 программ из 2"},
      {"routines never noted", 5, "", "копия неполна: нет копии у 3 программ из 5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string id = BeginBackupSet(link, dist, c.planned);
    EXPECT_EQ(BackupRoutines(link, id, {"OLD", "NEW"}), 1);
    if (*c.spoil) Run(c.spoil, id);
    const bool closes = *c.failure == '\0';
    try {
      const BackupCounts counts = FinishBackupSet(link, id);
      EXPECT_TRUE(closes);
      EXPECT_EQ(counts.count, 2);
      EXPECT_EQ(counts.existed, 1);
    } catch (const IncompleteBackupError& e) {
      EXPECT_FALSE(closes);
      EXPECT_EQ(Cp1251ToUtf8(e.what()), c.failure);
    }
    const auto set = FindBackupSet(link, id);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->complete, closes);
    EXPECT_EQ(set->state, closes ? "ready" : "open");
    EXPECT_EQ(set->planned, static_cast<int>(c.planned));
    EXPECT_EQ(Cp1251ToUtf8(set->product), "Склад");
  }
  // The plain rollback takes the newest complete set: the first one.
  const auto newest = NewestCompleteSet(ListBackupSets(link));
  ASSERT_TRUE(newest);
  EXPECT_EQ(newest->id, "1");
}

// A routine already in the set keeps its first copy, and a second backup of
// it counts it once more as existing.
TEST_F(BackupSetTest, ARoutineKeepsItsFirstCopy) {
  const std::string id = BeginBackupSet(link, dist, 1);
  EXPECT_EQ(BackupRoutines(link, id, {"OLD"}), 1);
  Run("s ^ROUTINE(\"OLD\",0,1)=\"OLD ;changed\",^rOBJ(\"OLD\")=\"changed\"");
  EXPECT_EQ(BackupRoutines(link, id, {"OLD"}), 1);
  EXPECT_EQ(FinishBackupSet(link, id).count, 1);
  const RollbackResult result = RollBack(link, id);
  EXPECT_EQ(result.restored, std::vector<std::string>{"OLD"});
  Run("s P2=^ROUTINE(\"OLD\",0,1)_\"|\"_^rOBJ(\"OLD\")");
  EXPECT_EQ(link.GetParam(2), "OLD ;old|old");
  EXPECT_EQ(FindBackupSet(link, id)->state, "rolled back");
}

}  // namespace
}  // namespace dorvik
