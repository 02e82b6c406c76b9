// Transactions as Cache runs them: updates are seen by other processes at
// once, a rollback undoes exactly this process's global updates since TSTART
// (newest first, kills included), and a process that ends with a
// transaction open has it rolled back. GT.M's transactions isolate and
// restart instead, so these are unit tests, not differential cases.
#include <chrono>
#include <deque>

#include "engine_fixture.h"

namespace {

using namespace std::chrono_literals;

class TransactionTest : public EngineTest {
 protected:
  // A second process on the same host.
  mengine::Process Other() { return mengine::Process(host_, {}); }
};

TEST_F(TransactionTest, LevelsNestAndCommitNeedsATransaction) {
  EXPECT_EQ(Run("w $tl,$trestart ts  w $tl ts  w $tl tc  w $tl tc  w $tl"), "001210");
  EXPECT_EQ(Run("tc"), "ERR <COMMAND>");
  EXPECT_EQ(Run("tro  tro 1 w $tl"), "0");  // nothing open: nothing to do
  // Committed updates stay; the level lasts from one call to the next.
  EXPECT_EQ(Run("k ^T ts  s ^T(1)=1"), "");
  EXPECT_EQ(Eval("$tl"), "1");
  EXPECT_EQ(Run("tc  tro  w ^T(1)"), "1");
}

// Restart where this engine decides (the standard's rules shared with GT.M
// are differential cases in gtm_corpus.txt).
TEST_F(TransactionTest, RestartNeedsARestartableTransactionAndItsFrame) {
  const std::pair<const char*, const char*> cases[] = {
      {"tre", "ERR <COMMAND>"},  // no transaction
      // TSTART without an argument starts a transaction that cannot restart
      {"ts  tre", "ERR <COMMAND>"},
      // the frame of the TSTART has ended: the restart has nowhere to go
      {"d tsub^tr tre", "ERR <COMMAND>"},
      // a restart of the direct line runs its TSTART again
      {"k x s x=1 ts (x) s x=x+1 w $tr tre:'$tr  tc  w x", "012"},
      // $TR alone is $TRESTART, $TR(...) $TRANSLATE
      {"w $tr,$tr(\"ab\",\"a\",\"c\")", "0cb"},
      // a restart from inside a TRY block is no error for the CATCH block
      {"k ^T ts (x) try { s ^T=$tr tre:'$tr  } catch { w \"no\" } tc  w ^T", "1"},
      // the TRY blocks opened after the TSTART are gone after the restart
      {"ts (x) try { tre:'$tr  } catch { w \"no\" } tc  w 1/0", "ERR <DIVIDE>"},
      // transaction parameters other than SERIAL and TRANSACTIONID
      {"ts (x):(FAST) tc", "ERR <SYNTAX>"},
  };
  Save("tr", {"tr ; restart", "tsub ts (x) q"});
  for (const auto& [line, output] : cases) {
    EXPECT_EQ(Run(line), output) << line;
    Run("tro");
  }
  // A TSTART of an earlier call (the direct line is gone) cannot run again.
  EXPECT_EQ(Run("ts (x)"), "");
  EXPECT_EQ(Run("tre"), "ERR <COMMAND>");
  EXPECT_EQ(Run("w $tl,$tr"), "00");
}

// Locks are not part of a transaction: a rollback leaves a lock taken inside
// it held (GT.M releases such locks at TROLLBACK: a unit test, not a
// differential case).
TEST_F(TransactionTest, RollbackKeepsLocksTakenInTheTransaction) {
  EXPECT_EQ(Run("ts  l +^L tro  w $tl"), "0");
  mengine::StringSink other_out;
  mengine::ProcessOptions o;
  o.output = &other_out;
  mengine::Process other(host_, o);
  other.Execute("l +^L:0 w $t");
  EXPECT_EQ(other_out.Take(), "0");
  Run("l -^L");
  other.Execute("l +^L:0 w $t");
  EXPECT_EQ(other_out.Take(), "1");
}

TEST_F(TransactionTest, RollbackUndoesGlobalUpdatesNewestFirst) {
  Run("k ^T,^U s ^T=0,^T(1)=\"a\",^T(1,2)=\"b\",^T(5)=5,^U(1)=1");
  EXPECT_EQ(Run("ts  s ^T=1,^T(1)=\"x\",^T(3)=3 k ^T(1) s ^T(1,9)=9 k ^U m ^U=^T s x=$i(^T(5),10)"), "");
  // Other processes see the updates at once.
  mengine::Process other = Other();
  EXPECT_EQ(other.Evaluate("^T_$d(^T(1))_$g(^T(3))_^T(5)_$d(^U(1,9))").value, "1103151");
  EXPECT_EQ(Run("s local=1 tro  w $tl"), "0");
  EXPECT_EQ(Eval("^T_^T(1)_^T(1,2)_$d(^T(1,9))_$d(^T(3))_^T(5)_^U(1)_$d(^U(1,9))_$d(^U(5))"), "0ab005100");
  EXPECT_EQ(Eval("local"), "1");  // locals are not part of a transaction
}

TEST_F(TransactionTest, RollbackOfOneLevelKeepsTheOuterLevel) {
  Run("k ^T");
  EXPECT_EQ(Run("ts  s ^T(1)=1 ts  s ^T(2)=2,^T(1)=\"in\" tro 1 w $tl,^T(1),$d(^T(2))"), "110");
  EXPECT_EQ(Run("tc  w $tl,^T(1)"), "01");
  // A node that had only descendants loses its value alone.
  Run("k ^T s ^T(1,1)=1");
  EXPECT_EQ(Run("ts  s ^T(1)=\"v\" tro  w $d(^T(1)),^T(1,1)"), "101");
}

TEST_F(TransactionTest, EndOfProcessRollsBack) {
  Run("k ^T");
  {
    mengine::Process p(host_, {});
    EXPECT_FALSE(p.Execute("ts  s ^T(1)=1").error);
    EXPECT_EQ(Eval("$d(^T(1))"), "1");
  }  // the process ends with its transaction open
  EXPECT_EQ(Eval("$d(^T(1))"), "0");
  mengine::Process halting(host_, {});
  EXPECT_TRUE(halting.Execute("ts  s ^T(2)=2 h").halted);
  EXPECT_EQ(Eval("$d(^T(2))"), "0");
  // A job that ends inside its transaction.
  Save("tj", {"tj ;", "run ts  s ^T(3)=3,^done=1 q"});
  EXPECT_EQ(Run("k ^done j run^tj"), "");
  ASSERT_TRUE(host_.WaitForJobs(5s));
  EXPECT_EQ(Eval("$d(^T(3))_$d(^done)"), "00");
}

// Journal that keeps records in memory, as a durable host would on disk.
class RecordingJournal : public mengine::TransactionJournal {
 public:
  void Record(std::uint64_t job, std::uint64_t sequence, const mengine::UndoRecord& r) override {
    EXPECT_EQ(sequence, kept[job].size());
    kept[job].push_back(r);
  }
  void Forget(std::uint64_t job, std::uint64_t from) override { kept[job].resize(from); }
  std::map<std::uint64_t, std::vector<mengine::UndoRecord>> kept;
};

class JournalHost : public mengine::MemoryHost {
 public:
  mengine::TransactionJournal* UndoJournal() override { return &journal; }
  RecordingJournal journal;
};

TEST(TransactionJournal, RecordsAreKeptUntilCommitAndReplayUndoesThem) {
  JournalHost host;
  mengine::Process p(host, {});
  ASSERT_FALSE(p.Execute("k ^T s ^T(1)=1,^T(1,1)=2 ts  s ^T(1)=5,^T(2)=2 ts  k ^T(1) tro 1").error);
  const auto job = p.Job();
  ASSERT_EQ(host.journal.kept[job].size(), 2u);  // the inner level's kill is forgotten
  EXPECT_FALSE(host.journal.kept[job][1].subtree);
  // What a host does at start for a process that died: undo the records.
  mengine::UndoUpdates(host, host.journal.kept[job]);
  EXPECT_EQ(p.Evaluate("^T(1)_^T(1,1)_$d(^T(2))").value, "120");
  ASSERT_FALSE(p.Execute("tc").error);
  EXPECT_TRUE(host.journal.kept[job].empty());
}

// Input of a principal device: lines queued by the test.
class QueuedInput : public mengine::InputSource {
 public:
  Input Read(std::size_t max, bool line, std::chrono::milliseconds timeout, const std::function<bool()>&) override {
    Input in;
    while (in.text.size() < max) {
      if (bytes.empty()) {
        if (timeout.count() >= 0 && !closed)
          in.timed_out = true;
        else
          in.at_end = true;
        break;
      }
      char c = bytes.front();
      bytes.pop_front();
      if (line && c == '\n') break;
      in.text.push_back(c);
    }
    return in;
  }
  std::deque<char> bytes;
  bool closed = false;
};

TEST_F(EngineTest, ReadTakesThePrincipalDevice) {
  QueuedInput input;
  mengine::ProcessOptions o = Options();
  o.input = &input;
  mengine::Process p(host_, o);
  for (char c : std::string("first\nA12345\nrest")) input.bytes.push_back(c);
  EXPECT_FALSE(p.Execute("r !,\"Name: \",x,*c,y#3,z:5 w \"|\",x,\"|\",c,\"|\",y,\"|\",z,\"|\",$t").error);
  EXPECT_EQ(sink_.Take(), "\r\nName: |first|65|123|45|1");
  // The line is not ended before the time-out: what came is read, $TEST is 0.
  EXPECT_FALSE(p.Execute("r x:0 w x,$t r *c:0 w c,$t").error);
  EXPECT_EQ(sink_.Take(), "rest0-10");
  input.closed = true;
  EXPECT_EQ(p.Execute("r x").error_text, "<ENDOFFILE>");
  // Argument indirection and a global target (the naked indicator follows it).
  for (char c : std::string("v\n")) input.bytes.push_back(c);
  EXPECT_FALSE(p.Execute("k ^R s a=\"^R(1,2)\" r @a w ^(2)").error);
  EXPECT_EQ(sink_.Take(), "v");
  // A process without a principal device keeps refusing READ.
  EXPECT_EQ(Run("r x"), "ERR <NOTOPEN> *READ: this process has no terminal");
}

TEST_F(EngineTest, LimitsOfPatternWorkAndIndirectionAreSettings) {
  // Real patterns on strings of a few hundred bytes stay far below the bound.
  EXPECT_EQ(Eval("$tr($j(\"\",400),\" \",\"A\")?.(1A,2A,3A,1\"AA\").(2A,1\"A\")"), "1");
  EXPECT_EQ(Eval("$tr($j(\"\",400),\" \",\"A\")?.(1A,2A,3A).(1A,2A)1\"B\""), "0");
  mengine::ProcessOptions o = Options();
  o.limits.max_pattern_work = 1000;
  o.limits.max_indirection = 3;
  mengine::Process small(host_, o);
  EXPECT_EQ(small.Evaluate("$tr($j(\"\",400),\" \",\"A\")?.(1A,2A)").error_text, "<COMPLEX PATTERN>");
  EXPECT_EQ(small.Evaluate("$j(\"\",400)?.E1\"A\".E").value, "0");  // no alternation: no bound
  ASSERT_FALSE(small.Execute("s a=\"@b\",b=\"@c\",c=\"d\",d=1").error);
  EXPECT_EQ(small.Evaluate("@a").value, "1");
  ASSERT_FALSE(small.Execute("s c=\"@e\",e=\"d\"").error);
  EXPECT_EQ(small.Evaluate("@a").error_text, "<SYNTAX>");
}

TEST_F(EngineTest, SystemHasTheStandardForm) {
  // Implementation number, comma, system name; Cache's own $SYSTEM differs
  // ("host:instance"), the standard's form is kept for portable code.
  EXPECT_EQ(Eval("$sy"), "0,VELMORA:MENGINE");
  EXPECT_EQ(Eval("$system?1.N1\",\"1.E"), "1");
}

}  // namespace
