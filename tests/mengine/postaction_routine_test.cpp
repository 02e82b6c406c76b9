// The wizard's background-job routine, uploaded through the wizard's own
// array-and-save protocol and run with jobs and locks on the in-memory host.
#include <chrono>
#include <thread>

#include "engine_fixture.h"

namespace {

using namespace std::chrono_literals;

// Code page 866 texts: "Последействия не выполнены" and
// "Уже выполняется установка" (shortened) and a comment word.
const std::string kNotDone =
    "\x8F\xAE\xE1\xAB\xA5\xA4\xA5\xA9\xE1\xE2\xA2\xA8\xEF \xAD\xA5 \xA2\xEB\xAF\xAE\xAB\xAD\xA5\xAD\xEB";
const std::string kBusy = "\x93\xA6\xA5 \xA2\xEB\xAF\xAE\xAB\xAD\xEF\xA5\xE2\xE1\xEF";
const std::string kComment = "\x8C\xA5\xE2\xAA\xA0";

// The generated routine for one post-action `label` (element 0 is the name).
std::vector<std::string> PostActionRoutine(const std::string& label, const std::string& description) {
  return {
      "dorvik",
      "dorvik",
      " ;" + kComment + " ",
      " ;" + kComment,
      " ;Product: Demo 1.0",
      " Q",
      "w(s) ; " + kComment,
      " s s=$g(s) Q:s=\"\"",
      " n ad s ad=$$mesad",
      " n c s c=$o(@ad@(\"\"),-1)  s c=c+1",
      " s @ad@(c)=s",
      " Q",
      "mesad() q $na(^R(\"dorvik\"))",
      " ;",
      "resad() q $na(^R(\"dorvik_res\"))",
      " ;",
      "SetAnswer(s) ; $$" + kComment,
      " n ad s ad=$$resad",
      " s @ad=$g(s)",
      " Q \"\"",
      " ;",
      "ask(t,l,def) ; $$ " + kComment,
      " ; :>",
      " ; t - " + kComment,
      " ;      1: " + kComment,
      " ; l - " + kComment,
      " ; def - " + kComment,
      " ;       1:",
      " ;       1-" + kComment,
      " ;       2:",
      " ;       " + kComment,
      " ; :< " + kComment,
      " ;    1: 1-" + kComment,
      " ;    2: " + kComment,
      " ;",
      " s t=$g(t) Q:t=\"\" \"\" ; " + kComment,
      " s l=$g(l)",
      " s def=$g(def)",
      " i def=\"\",t=1 s def=1",
      " l +^jobdorvik:0 i  l -^jobdorvik Q def   ; " + kComment,
      " d w($C(2)_t_\"#\"_l_\"#\"_def)",
      " n ad",
      " s ad=$$resad",
      "wait h 1",
      " g:'$d(@ad) wait",
      " s ad(1)=@ad",
      " k @ad",
      " Q ad(1)",
      " ;",
      "job() ;" + kComment,
      " s ad=$na(^R(\"dorvik\"))",
      " k @ad",
      " l +^jobdorvik",
      " j st^dorvik::30 i  q 1",
      " l -^jobdorvik",
      " Q 0",
      "jalive() ; " + kComment,
      " L +^dorvik:0 e  q 1",
      " q 0",
      "stf() ; " + kComment,
      " d st",
      " Q $g(^R(\"dorvik\"))",
      "st",
      " s ad=$$resad",
      " k @ad",
      " s ad=$na(^R(\"dorvik\"))",
      " s @ad=\"" + kNotDone + "\"",
      " L +^dorvik:1 e  s @ad=\"" + kBusy + "\" Q",
      " s $zt=\"er^dorvik\"",
      " n res s res=\"\"",
      " d w(\"" + label + " - " + description + "\")",
      " s res=$$" + label + " g:res'=\"\" ex",
      "ex s @ad=res",
      " Q",
      "er ; " + kComment,
      " s @ad=$ze",
      " Q",
  };
}

// The save line of the upload protocol: kill the macro source, clear the
// buffer, insert every CR LF separated part of every node of text, save.
std::string SaveLine(const std::string& name) {
  const std::string middle =
      R"(ZR  X "s i="""",q=$C(13,10) f  s i=$o(text(i)) Q:i=""""  s s="""" f k=1:1:$l(text(i),q) s s=$p(text(i),q,k) ZI s" ZS )";
  EXPECT_EQ(middle.size(), 117u);
  return "k ^rMAC(\"" + name + "\") " + middle + name;
}

class PostActionRoutineTest : public EngineTest {
 protected:
  // Uploads routine lines (element 0 = name) as the wizard does: chunks of
  // lines joined with CR LF into text(k), then the save line.
  void Upload(mengine::Process& p, const std::vector<std::string>& lines, std::size_t chunk_limit) {
    ASSERT_FALSE(p.Execute("n text,i,k,q").error);
    std::size_t k = 1;
    while (k < lines.size()) {
      std::size_t first = k;
      std::string chunk = lines[k];
      while (chunk.size() < chunk_limit && k + 1 < lines.size()) chunk += "\r\n" + lines[++k];
      ++k;
      p.SetLocal("P1", std::to_string(first));
      p.SetLocal("P2", chunk);
      auto r = p.Execute("s text(P1)=P2");
      ASSERT_FALSE(r.error) << r.error_text;
    }
    auto r = p.Execute(SaveLine(lines[0]));
    ASSERT_FALSE(r.error) << r.error_text;
    ASSERT_FALSE(p.Execute("k text").error);
    p.SetLocal("P1", lines[0]);
    ASSERT_FALSE(p.Execute("k ^ROUTINE(P1)").error);
  }

  std::string Value(mengine::Process& p, const std::string& expr) {
    auto r = p.Evaluate(expr);
    EXPECT_FALSE(r.error) << expr << ": " << r.error_text;
    return r.value;
  }

  // Polls as the wizard does until the job has ended; answers the messages.
  std::vector<std::string> Drain(mengine::Process& wizard, const std::string& answer = "") {
    std::vector<std::string> messages;
    // The wizard gives a fresh job time to take its run lock before polling.
    std::this_thread::sleep_for(300ms);
    int n = 1;
    auto deadline = std::chrono::steady_clock::now() + 20s;
    for (;;) {
      std::string m = Value(wizard, "$g(^R(\"dorvik\"," + std::to_string(n) + "))");
      if (!m.empty()) {
        ++n;
        messages.push_back(m);
        if (m[0] == '\x02') Value(wizard, "$$SetAnswer^dorvik(\"" + answer + "\")");
        continue;
      }
      if (Value(wizard, "$$jalive^dorvik") == "0") break;
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "job did not end";
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    for (;;) {
      std::string m = Value(wizard, "$g(^R(\"dorvik\"," + std::to_string(n) + "))");
      if (m.empty()) break;
      ++n;
      messages.push_back(m);
    }
    return messages;
  }
};

TEST_F(PostActionRoutineTest, UploadsInChunksAndReadsBackEveryLine) {
  auto lines = PostActionRoutine("lab^pa", "first step");
  Upload(process_, lines, 200);  // small chunks: many text(k) nodes
  for (std::size_t i = 1; i < lines.size(); ++i)
    EXPECT_EQ(Eval("$T(+" + std::to_string(i) + "^dorvik)"), lines[i]) << i;
  EXPECT_EQ(Eval("$T(+" + std::to_string(lines.size()) + "^dorvik)"), "");
  EXPECT_EQ(Eval("$T(+0^dorvik)"), "dorvik");
  EXPECT_EQ(Eval("$T(st^dorvik)"), "st");
  EXPECT_EQ(Eval("$T(ex^dorvik)"), "ex s @ad=res");
  EXPECT_EQ(Eval("$T(wait+1^dorvik)"), " g:'$d(@ad) wait");
  EXPECT_EQ(Eval("$d(text)"), "0");
  // Uploading again replaces the routine rather than appending to it.
  Upload(process_, lines, 32700);
  EXPECT_EQ(Eval("$T(+" + std::to_string(lines.size()) + "^dorvik)"), "");
  EXPECT_EQ(Eval("$$mesad^dorvik"), "^R(\"dorvik\")");
}

TEST_F(PostActionRoutineTest, JobRunsPostActionsAndReportsSuccess) {
  Upload(process_, PostActionRoutine("lab^pa", "first step"), 32700);
  Save("pa", {"pa", "lab() d w^dorvik(\"half\"_$c(1)_\"50\") q \"\""});
  EXPECT_EQ(Value(process_, "$$job^dorvik"), "1");
  auto messages = Drain(process_);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "lab^pa - first step");
  EXPECT_EQ(messages[1],
            "half\x01"
            "50");
  EXPECT_EQ(Value(process_, "$g(^R(\"dorvik\"))"), "");
  EXPECT_EQ(Value(process_, "$d(^R(\"dorvik\"))"), "11");
  EXPECT_FALSE(process_.Execute("k ^R(\"dorvik\")").error);
  EXPECT_TRUE(host_.WaitForJobs(5s));
}

TEST_F(PostActionRoutineTest, FailureTextAndErrorTrap) {
  Upload(process_, PostActionRoutine("lab^pa", "x"), 32700);
  Save("pa", {"pa", "lab() q \"bad \"_" + std::string("$c(141)")});
  EXPECT_EQ(Value(process_, "$$job^dorvik"), "1");
  Drain(process_);
  EXPECT_EQ(Value(process_, "$g(^R(\"dorvik\"))"), "bad \x8D");

  // An error in the post-action unwinds to st's frame and lands in er.
  mengine::Process second(host_, Options());
  Save("pa", {"pa", "lab() n x", " s x=y", " q \"\""});
  EXPECT_TRUE(host_.WaitForJobs(5s));
  Upload(second, PostActionRoutine("lab^pa", "x"), 32700);
  // A new wizard process: the first one still holds ^dorvik from jalive.
  mengine::Process third(host_, Options());
  process_.Execute("h");
  EXPECT_EQ(Value(third, "$$job^dorvik"), "1");
  Drain(third);
  EXPECT_EQ(Value(third, "$g(^R(\"dorvik\"))"), "<UNDEFINED>lab+1^pa *y");
}

TEST_F(PostActionRoutineTest, QuestionIsRelayedAndAnswered) {
  Upload(process_, PostActionRoutine("lab^pa", "ask"), 32700);
  Save("pa", {"pa", "lab() n a s a=$$ask^dorvik(1,\"Go on?\",\"\")", " q $s(a=2:\"declined\",1:\"\")"});
  EXPECT_EQ(Value(process_, "$$job^dorvik"), "1");
  auto messages = Drain(process_, "2");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1],
            "\x02"
            "1#Go on?#1");
  EXPECT_EQ(Value(process_, "$g(^R(\"dorvik\"))"), "declined");
  EXPECT_EQ(Value(process_, "$d(^R(\"dorvik_res\"))"), "0");
}

TEST_F(PostActionRoutineTest, ForegroundRunAnswersDefaultsAndBusyRunIsRefused) {
  Upload(process_, PostActionRoutine("lab^pa", "fg"), 32700);
  Save("pa", {"pa", "lab() q $$ask^dorvik(2,\"Name\",\"dflt\")"});
  // No wizard holds ^jobdorvik: ask answers its default without asking.
  EXPECT_EQ(Value(process_, "$$stf^dorvik"), "dflt");

  // Another process holds ^dorvik: st gives up after one second.
  mengine::Process other(host_, Options());
  EXPECT_EQ(Value(other, "$$stf^dorvik"), kBusy);
  EXPECT_EQ(Value(other, "$$jalive^dorvik"), "1");
  process_.Execute("h");  // ending the process frees its locks
  EXPECT_EQ(Value(other, "$$jalive^dorvik"), "0");
}

}  // namespace
