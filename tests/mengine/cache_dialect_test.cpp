// Cache-dialect behaviour: error texts and $ZTRAP unwinding, the routine
// buffer and $TEXT, lists, the wizard's own lines, locks, limits.
#include <chrono>
#include <thread>

#include "engine_fixture.h"

namespace {

using namespace std::chrono_literals;

TEST_F(EngineTest, WizardLinesRunUnchanged) {
  EXPECT_EQ(Eval("$ZNSPACE"), "USER");
  EXPECT_FALSE(Eval("$ZVERSION").empty());
  host_.AddNamespace("SAMPLES");
  EXPECT_EQ(Eval("$zu(90,0)"), "3");
  process_.SetLocal("P1", "1");
  EXPECT_EQ(Eval("$zu(90,2,0,P1)"), "%SYS");
  process_.SetLocal("P1", "3");
  EXPECT_EQ(Eval("$zu(90,2,0,P1)"), "SAMPLES");
  EXPECT_TRUE(process_.SetNamespace("SAMPLES"));
  EXPECT_EQ(Eval("$ZNSPACE"), "SAMPLES");
  EXPECT_FALSE(process_.SetNamespace("NOSUCH"));
  EXPECT_EQ(Run("zn \"NOSUCH\""), "ERR <NAMESPACE> *NOSUCH");
  EXPECT_EQ(Run("zn \"USER\" w $zns"), "USER");
  EXPECT_EQ(Run("d ENABLE^%NOJRN"), "");
  EXPECT_EQ(Run("d DISABLE^%NOJRN"), "");

  // A check label called as an extrinsic: "" is success, other text a reason.
  Save("chk", {"chk ; check routines", "ok() q \"\"", "bad() n x s x=$zv q \"no space\"_$c(160)"});
  EXPECT_EQ(Eval("$$ok^chk"), "");
  EXPECT_EQ(Eval("$$bad^chk"), "no space\xA0");
  EXPECT_EQ(Eval("$$nolabel^chk"), "ERR <NOLINE> *nolabel^chk");
  EXPECT_EQ(Eval("$$x^nosuch"), "ERR <NOROUTINE> *nosuch");

  // The upload's scratch lines, with P1/P2 set by the host between calls.
  EXPECT_EQ(Run("n text,i,k,q"), "");
  process_.SetLocal("P1", "1");
  process_.SetLocal("P2", "a\r\nb");
  EXPECT_EQ(Run("s text(P1)=P2"), "");
  EXPECT_EQ(Eval("$l(text(1),$c(13,10))"), "2");
  EXPECT_EQ(Run("k text"), "");
  EXPECT_EQ(Eval("$d(text)"), "0");
  process_.SetLocal("P1", "chk");
  EXPECT_EQ(Run("k ^ROUTINE(P1)"), "");
  EXPECT_EQ(process_.GetLocal("P1"), "chk");
}

TEST_F(EngineTest, ErrorTrapUnwindsAcrossDoAndExtrinsicFrames) {
  Save("t",
       {"t ; traps", "top s $zt=\"trap\" d a w \"not here\" q", "trap w \"trapped:\",$ze,\" st=\",$st,\" zt=\",$zt q",
        "a d b q", "b s x=$$c() q", "c() w \"c\" w undef q 1", "ext() s $zt=\"fe\" s y=1/0 q 1", "fe q 2",
        "inner s $zt=\"it\" q", "it q", "keep s $zt=\"trap\" d inner w $zt q", "twice s $zt=\"h1\" d l1 w \"after\" q",
        "h1 w \"outer:\",$p($ze,\">\") q", "l1 s $zt=\"h2\" s x=1/0 q", "h2 w \"inner;\" s y=undef2 q"});
  EXPECT_EQ(Run("d top^t"), "ctrapped:<UNDEFINED>c^t *undef st=1 zt=");
  EXPECT_EQ(Run("w $$ext^t"), "2");
  EXPECT_EQ(Run("d keep^t"), "trap");
  // An error inside a handler goes to the next trap further out.
  EXPECT_EQ(Run("d twice^t"), "inner;outer:<UNDEFINED");
  // No trap at all: the error reaches the host with its place.
  EXPECT_EQ(Run("d a^t"), "ERR <UNDEFINED>c^t *undef");
  EXPECT_EQ(Eval("$ze"), "<UNDEFINED>c^t *undef");
}

TEST_F(EngineTest, ErrorNamesAndPlaces) {
  Save("e", {"e ; errors", "one q", " s x=1", " w x(2)", "two() q 1", "par(a) q", "deep d deep q"});
  EXPECT_EQ(Run("d one^e"), "");
  EXPECT_EQ(Run("g one+2^e"), "ERR <UNDEFINED>one+2^e *x(2)");
  EXPECT_EQ(Run("w ^nog(1,\"a\")"), "ERR <UNDEFINED> *^nog(1,\"a\")");
  EXPECT_EQ(Run("d ^abc"), "ERR <NOROUTINE> *abc");
  EXPECT_EQ(Run("d nol^e"), "ERR <NOLINE> *nol^e");
  EXPECT_EQ(Run("s x=1+"), "ERR <SYNTAX>");
  EXPECT_EQ(Run("foo 1"), "ERR <SYNTAX>");
  EXPECT_EQ(Run("d two^e"), "ERR <COMMAND>two^e");
  EXPECT_EQ(Run("w $$one^e"), "ERR <COMMAND>one^e");
  EXPECT_EQ(Run("w $zu(1)"), "ERR <FUNCTION>");
  EXPECT_EQ(Run("w $zzz(1)"), "ERR <FUNCTION>");
  EXPECT_EQ(Run("s x(\"\")=1"), "ERR <SUBSCRIPT> *x(\"\")");
  EXPECT_EQ(Run("w 1/0"), "ERR <DIVIDE>");
  EXPECT_EQ(Run("w 1E100*1E100"), "ERR <MAXNUMBER>");
  EXPECT_EQ(Run("d par^e(1,2)"), "ERR <PARAMETER>");
  EXPECT_EQ(Run("d deep^e"), "ERR <FRAMESTACK>deep^e");
  EXPECT_EQ(Run("s x=$j(\"\",3641144) w $l(x)"), "3641144");
  EXPECT_EQ(Run("s x=$j(\"\",3641144)_\"a\""), "ERR <MAXSTRING>");
  EXPECT_EQ(Run("zs %mine"), "ERR <PROTECT> *%mine");
  EXPECT_EQ(Run("r x"), "ERR <NOTOPEN> *READ: this process has no terminal");
  EXPECT_EQ(Run("zt \"ABC\""), "ERR <ZABC>");
  EXPECT_EQ(Run(R"(s w="""Q""" zt @w)"), "ERR <ZQ>");  // found by the fuzzer
  // Argument indirection that names more indirection.
  EXPECT_EQ(Run("s a=\"@b\",b=\"1,0\" i @a w \"no\""), "");
  EXPECT_EQ(Run("s a=\"@b\",b=\"1,1\" i @a w \"yes\""), "yes");
  EXPECT_EQ(Run("s a=\"@b\",b=\"0\" h @a w \"h\""), "h");
  EXPECT_EQ(Run("w $li($lb(1,,3),2)"), "ERR <NULL VALUE>");
  EXPECT_EQ(Run("w $ll(\"junk\")"), "ERR <LIST>");
  // A syntax error in a stored line is raised when that line runs.
  Save("bad", {"bad ; has one broken line", "ok w \"fine\" q", "br s x=(1", " q"});
  EXPECT_EQ(Run("d ok^bad"), "fine");
  EXPECT_EQ(Run("d br^bad"), "ERR <SYNTAX>br^bad");
}

TEST_F(EngineTest, ArgumentIndirectionIsFollowedToTheEnd) {
  // Found by the fuzzer: DO and GOTO took an argument that held more
  // indirection for an entry reference.
  Save("ind", {"ind ; targets", "one w \"one\" q", "two s x=1 w y q"});
  EXPECT_EQ(Run("s a=\"@b\",b=\"one^ind\" d @a w \"-\""), "one-");
  EXPECT_EQ(Run("s a=\"@b\",b=\"@c\",c=\"one^ind:1,one^ind:0\" d @a"), "one");
  EXPECT_EQ(Run("k y s a=\"@b\",b=\"two^ind\" g @a"), "ERR <UNDEFINED>two^ind *y");
  EXPECT_EQ(Run("s a=\"@a\" d @a"), "ERR <FRAMESTACK>");
  EXPECT_EQ(Run("s a=\"@a\" g @a"), "ERR <FRAMESTACK>");
  // A GOTO postcondition is evaluated once.
  EXPECT_EQ(Run("k ^c g one^ind:$i(^c)>0"), "one");
  EXPECT_EQ(Run("w ^c"), "1");
  // LOCK through two levels takes the lock.
  EXPECT_EQ(Run("s a=\"@b\",b=\"+^held2\" l @a"), "");
  mengine::Process other(host_, Options());
  EXPECT_EQ(other.Execute("l +^held2:0 s ^t=$t").error, false);
  EXPECT_EQ(Eval("^t"), "0");
  EXPECT_EQ(Run("l"), "");
}

TEST_F(EngineTest, RoutineBufferAndText) {
  EXPECT_EQ(Run("ZR  ZI \"buf ; made in the buffer\" ZI \"lab w \"\"hi\"\" q\" ZI \" q\" ZS buf"), "");
  EXPECT_EQ(Run("d lab^buf"), "hi");
  EXPECT_EQ(Eval("$T(+1^buf)"), "buf ; made in the buffer");
  EXPECT_EQ(Eval("$T(lab^buf)"), "lab w \"hi\" q");
  EXPECT_EQ(Eval("$T(lab+1^buf)"), " q");
  EXPECT_EQ(Eval("$T(+4^buf)"), "");
  EXPECT_EQ(Eval("$T(nope^buf)"), "");
  EXPECT_EQ(Eval("$T(+1^nosuch)"), "");
  EXPECT_EQ(Run("zp"), "buf ; made in the buffer\r\nlab w \"hi\" q\r\n q\r\n");
  // ZL loads; ZI with a position inserts after that line and moves there.
  EXPECT_EQ(Run("ZR  ZL buf ZI \" w 2\":+1 ZI \" w 3\" ZS buf2"), "");
  EXPECT_EQ(Eval("$T(+2^buf2)"), " w 2");
  EXPECT_EQ(Eval("$T(+3^buf2)"), " w 3");
  EXPECT_EQ(Eval("$T(+4^buf2)"), "lab w \"hi\" q");
  EXPECT_EQ(Run("d ^buf2"), "23hi");
  // ZR with line references removes those lines only.
  EXPECT_EQ(Run("ZL buf2 ZR +2:+3 ZS buf2 zp"), "buf ; made in the buffer\r\nlab w \"hi\" q\r\n q\r\n");
  EXPECT_EQ(Run("ZL nosuch"), "ERR <NOROUTINE> *nosuch");
  // A saved routine is parsed once per version: the same tree serves calls.
  auto image = host_.Routines("USER")->Load("buf");
  EXPECT_EQ(Run("d lab^buf d lab^buf"), "hihi");
  auto cached = image->engine_cache;
  EXPECT_NE(cached, nullptr);
  EXPECT_EQ(Run("d lab^buf"), "hi");
  EXPECT_EQ(image->engine_cache, cached);
  // $TEXT of the current routine and $ST.
  Save("me", {"me ; self", "a w $t(+1),\"/\",$st q"});
  EXPECT_EQ(Run("d a^me"), "me ; self/1");
}

TEST_F(EngineTest, Lists) {
  EXPECT_EQ(Eval("$ll($lb(1,\"two\",,4))"), "4");
  EXPECT_EQ(Eval("$li($lb(1,\"two\",3),2)"), "two");
  EXPECT_EQ(Eval("$li($lb(-5,2.5,\"x\"),1)+$li($lb(-5,2.5),2)"), "-2.5");
  EXPECT_EQ(Eval("$lg($lb(1,,3),2,\"d\")"), "d");
  EXPECT_EQ(Eval("$lg($lb(1),5)"), "");
  EXPECT_EQ(Eval("$ld($lb(1,,3),2)_$ld($lb(1,,3),3)"), "01");
  EXPECT_EQ(Eval("$lf($lb(\"a\",\"b\",\"c\"),\"b\")"), "2");
  EXPECT_EQ(Eval("$ll($li($lb(1,2,3,4),2,3))"), "2");
  EXPECT_EQ(Eval("$li($lb($lb(1,2),3),1)=$lb(1,2)"), "1");
  EXPECT_EQ(Eval("$l($lb(\"\"))"), "2");
  EXPECT_EQ(Eval("$lb()"), "");
  EXPECT_EQ(Run("s l=$lb(1,2) s $li(l,4)=\"d\" w $ll(l),$li(l,4),$ld(l,3)"), "4d0");
  EXPECT_EQ(Eval("$ll($lb($j(\"\",300),1))_\":\"_$l($li($lb($j(\"\",300)),1))"), "2:300");
  EXPECT_EQ(Eval("$li($lb(123456789012),1)"), "123456789012");
}

TEST_F(EngineTest, NewKillAndParameters) {
  Save("n", {"n ; scoping", "a n x s x=2 d b q", "b w x q", "ex n (keep) s other=5 w $d(keep),$d(gone) q",
             "ref(v) s v(1)=\"r\",v=\"top\" q", "fm(a,b) w $g(a,\"-\"),$g(b,\"-\") q"});
  EXPECT_EQ(Run("s x=1 d a^n w x"), "21");
  EXPECT_EQ(Run("s keep=1,gone=1 d ex^n w $d(other),$d(gone)"), "1001");
  EXPECT_EQ(Run("k r d ref^n(.r) w r,r(1)"), "topr");
  EXPECT_EQ(Run("d fm^n(,2) d fm^n(1)"), "-21-");
  EXPECT_EQ(Run("s a=1,b=2,c=3 k (a,c) w $d(a),$d(b),$d(c)"), "101");
  EXPECT_EQ(Run("k  w $d(a)"), "0");
  // NEW at the outermost level survives to the next call of the host.
  EXPECT_EQ(Run("n t s t=5"), "");
  EXPECT_EQ(Run("w t"), "5");
}

TEST_F(EngineTest, BytesPassUnchanged) {
  std::string cp866 = "\x8F\xE0\xA8\xA2\xA5\xE2 \xF0\xF1\xFF";  // "Привет Ёё" and 0xFF
  process_.SetLocal("P2", cp866);
  EXPECT_EQ(Eval("$l(P2)"), "10");
  EXPECT_EQ(Run("w P2"), cp866);
  EXPECT_EQ(Run("s ^g(P2)=P2 w $o(^g(\"\"))=P2,^g(P2)=P2"), "11");
  EXPECT_EQ(Eval("$zcvt(P2,\"U\")"), "\x8F\x90\x88\x82\x85\x92 \xF0\xF0\xFF");
  EXPECT_EQ(Eval("$zcvt(P2,\"L\")"), "\xAF\xE0\xA8\xA2\xA5\xE2 \xF1\xF1\xFF");
  EXPECT_EQ(Eval("$a($c(0,255),2)"), "255");
}

TEST_F(EngineTest, DatesAndTimes) {
  EXPECT_EQ(Eval("$zd(47117,3)"), "1970-01-01");
  EXPECT_EQ(Eval("$zd(1)"), "01/01/1841");
  EXPECT_EQ(Eval("$zd(67912,4)"), "08/12/2026");
  EXPECT_EQ(Eval("$zd(67912,8)"), "20261208");
  EXPECT_EQ(Eval("$zdh(\"2026-12-08\",3)"), "67912");
  EXPECT_EQ(Eval("$zdh(\"02/31/2026\")"), "ERR <ILLEGAL VALUE>");
  EXPECT_EQ(Eval("$zt(3661)"), "01:01:01");
  EXPECT_EQ(Eval("$zt(3661,2)"), "01:01");
  EXPECT_EQ(Eval("$zth(\"23:59:59\")"), "86399");
  EXPECT_EQ(Eval("$p($h,\",\")>67000"), "1");
  EXPECT_EQ(Eval("$ztimestamp?5N1\",\"1.5N1\".\"3N"), "1");
}

TEST_F(EngineTest, LocksBetweenProcesses) {
  mengine::Process other(host_, Options());
  auto test = [&](mengine::Process& p, const std::string& line) {
    auto r = p.Execute(line + " s %t=$t");
    EXPECT_FALSE(r.error) << r.error_text;
    return p.GetLocal("%t").value_or("?");
  };
  EXPECT_EQ(test(process_, "l +^a(1):0"), "1");
  EXPECT_EQ(test(other, "l +^a:0"), "0");        // ancestor of a held lock
  EXPECT_EQ(test(other, "l +^a(1,2):0"), "0");   // descendant
  EXPECT_EQ(test(other, "l +^a(2):0"), "1");     // sibling
  EXPECT_EQ(test(process_, "l +^a(1):0"), "1");  // counted
  EXPECT_EQ(test(process_, "l -^a(1)"), "1");
  EXPECT_EQ(test(other, "l +^a(1):0"), "0");
  EXPECT_EQ(test(process_, "l -^a(1)"), "1");
  EXPECT_EQ(test(other, "l +^a(1):0"), "1");
  EXPECT_EQ(test(other, "l ^b"), "1");  // plain LOCK drops the others
  EXPECT_EQ(test(process_, "l +^a(1):0"), "1");
  EXPECT_EQ(test(process_, "l +(^b,^c):.1"), "0");  // all or nothing
  EXPECT_EQ(test(other, "l +^c:0"), "1");
  // A waiting lock is taken as soon as the holder lets go.
  std::thread release([&] {
    std::this_thread::sleep_for(100ms);
    other.Execute("l");
  });
  EXPECT_EQ(test(process_, "l +^b:5"), "1");
  release.join();
}

TEST_F(EngineTest, LimitsEndRunawayCode) {
  mengine::ProcessOptions o = Options();
  o.limits.max_steps = 10000;
  o.limits.max_time = 300ms;
  mengine::Process p(host_, o);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(p.Execute("f  s x=1").error_text, "<INTERRUPT>");
  EXPECT_EQ(p.Execute("s $zt=\"h\" f  s x=1").error_text, "<INTERRUPT>");  // not trappable
  EXPECT_EQ(p.Execute("h 100").error_text, "<INTERRUPT>");
  EXPECT_EQ(p.Execute("l +^held").error, false);
  mengine::Process waiter(host_, o);
  EXPECT_EQ(waiter.Execute("l +^held").error_text, "<INTERRUPT>");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  // The process is usable again after a budget ran out.
  EXPECT_FALSE(p.Execute("s y=2").error);
  EXPECT_EQ(p.Evaluate("y").value, "2");
  // Deep nesting and self-referring indirection end in errors.
  std::string deep(5000, '(');
  EXPECT_EQ(p.Execute("w " + deep + "1").error_text, "<SYNTAX>");
  EXPECT_EQ(p.Execute("s a=\"@a\" w @a").error_text, "<FRAMESTACK>");
  EXPECT_EQ(p.Execute("s a=\"@a\" s b=@a").error_text, "<SYNTAX>");
  EXPECT_EQ(p.Execute("s a=\"x a\" x a").error_text, "<FRAMESTACK>");
  // Operator chains count toward the expression depth: 300 operators are
  // fine (also in sanitizer builds, whose frames are larger), 50000 are
  // refused before they can exhaust the native stack.
  std::string chain = "s x=1";
  for (int i = 0; i < 300; ++i) chain += "+1";
  EXPECT_FALSE(p.Execute(chain).error);
  EXPECT_EQ(p.Evaluate("x").value, "301");
  for (int i = 0; i < 49700; ++i) chain += "+1";
  EXPECT_EQ(p.Execute(chain).error_text, "<SYNTAX>");
  // Alternation repeated past any stack: empty repetitions are collapsed,
  // long chains of real ones end in an error (found by the fuzzer).
  EXPECT_EQ(p.Evaluate("\"12x\"?111111111111(.1E,1N)").value, "1");
  EXPECT_EQ(p.Evaluate("$j(\"\",5000)?1000000(1\" \",1\"x\")").error_text, "<COMPLEX PATTERN>");
}

TEST_F(EngineTest, JobsWithArguments) {
  Save("jb", {"jb ; jobs", "run(a,b) s ^done(a)=b_$j q"});
  EXPECT_EQ(Run("j run^jb(1,\"x\"):(:):5 w $t"), "1");
  EXPECT_TRUE(host_.WaitForJobs(5s));
  std::string v = Eval("^done(1)");
  EXPECT_EQ(v.substr(0, 1), "x");
  EXPECT_NE(v.substr(1), Eval("$j"));
  EXPECT_EQ(Run("j nolabel^jb"), "ERR <NOLINE> *nolabel^jb");
}

}  // namespace

namespace {

TEST_F(EngineTest, CacheOnlyOperatorsAndFunctions) {
  // && and || stop early; & and ! evaluate both sides.
  EXPECT_EQ(Eval("0&&undefined"), "0");
  EXPECT_EQ(Eval("1||undefined"), "1");
  EXPECT_EQ(Eval("1&&0"), "0");
  EXPECT_EQ(Eval("0&undefined"), "ERR <UNDEFINED> *undefined");
  EXPECT_EQ(Eval("$zdt(\"47117,3661\",3)"), "1970-01-01 01:01:01");
  EXPECT_EQ(Eval("$case(2,1:\"a\",2:\"b\",:\"z\")"), "b");
  EXPECT_EQ(Eval("$case(9,1:\"a\",:\"z\")"), "z");
  EXPECT_EQ(Eval("$zstrip(\"  a b  \",\"<>W\")"), "a b");
  EXPECT_EQ(Eval("$zstrip(\"a1b2\",\"*N\")"), "ab");
  EXPECT_EQ(Eval("$i(cnt)_$i(cnt,10)"), "111");
  EXPECT_EQ(Run("s ^c=5 w $i(^c),$i(^c,-2)"), "64");
  EXPECT_EQ(Run(R"(s x(1)="a",x(2,3)="b""" zw x)"), "x(1)=\"a\"\r\nx(2,3)=\"b\"\"\"\r\n");
  EXPECT_EQ(Run("s y=$c(1)_\"q\" zw y"), "y=$c(1)_\"q\"\r\n");
}

TEST_F(EngineTest, WrongArgumentCountsAreFunctionErrors) {
  // Found by the fuzzer: $QLENGTH and $QSUBSCRIPT read a first argument
  // that was not there.
  EXPECT_EQ(Eval("$ql()"), "ERR <FUNCTION>");
  EXPECT_EQ(Eval("$qs()"), "ERR <FUNCTION>");
  EXPECT_EQ(Eval("$ql(\"a(1)\",2)"), "ERR <FUNCTION>");
  EXPECT_EQ(Eval("$qs(\"a(1)\")"), "ERR <FUNCTION>");
  EXPECT_EQ(Eval("$ql(\"a(1,2)\")_$qs(\"a(1,2)\",2)_$case(1,1:\"x\")"), "22x");
}

}  // namespace

namespace {

TEST(CompileRoutine, ReportsTheFirstBrokenLineAndKeepsTheLabels) {
  std::string error;
  std::string compiled = mengine::CompileRoutine("x", {"x ; header", "a s y=(1", " w $zzz(2)", "b q"}, &error);
  EXPECT_EQ(error, "<SYNTAX>a^x");
  EXPECT_EQ(compiled.rfind("MENGINE1\n", 0), 0u);
  EXPECT_NE(compiled.find("b\t3\n"), std::string::npos);
  error.clear();
  mengine::CompileRoutine("ok", {"ok ; fine", " q"}, &error);
  EXPECT_EQ(error, "");
}

}  // namespace
