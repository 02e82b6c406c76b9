#include <gtest/gtest.h>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "postactions/postinstall.h"

namespace dorvik {
namespace {

std::string Dos(std::string_view utf8) { return Utf8ToCp866(utf8); }

TEST(PostActionRoutine, HasNoLinesWithoutPostActions) {
  EXPECT_TRUE(BuildPostActionRoutine({}, {}, "dorvik", "P", "1").empty());
}

TEST(PostActionRoutine, LayoutWithOnePostAction) {
  const auto lines = BuildPostActionRoutine({"go^INST"}, {Ru("Настройка")}, "dorvik", Ru("Склад"), "3.1");
  ASSERT_EQ(lines.size(), 77u);
  EXPECT_EQ(lines[0], "dorvik");
  EXPECT_EQ(lines[1], "dorvik");
  EXPECT_EQ(lines[2], " ;" + Dos("Сгенерована установщиком дистрибутивов Велмора для выполнения "));
  EXPECT_EQ(lines[4], " ;" + Dos("Устанавливаемый продукт: Склад 3.1"));
  EXPECT_EQ(lines[7], " s s=$g(s) Q:s=\"\"");
  EXPECT_EQ(lines[9], " n c s c=$o(@ad@(\"\"),-1)  s c=c+1");
  EXPECT_EQ(lines[12], "mesad() q $na(^R(\"dorvik\"))");
  EXPECT_EQ(lines[35], " s t=$g(t) Q:t=\"\" \"\" ; " + Dos("не задан тип вопроса"));
  EXPECT_EQ(lines[39], " l +^jobdorvik:0 i  l -^jobdorvik Q def   ; " +
                           Dos("последействия выполняются не в фоновом задании. Диалог с пользователем не возможен"));
  EXPECT_EQ(lines[40], " d w($C(2)_t_\"#\"_l_\"#\"_def)");
  EXPECT_EQ(lines[43], "wait h 1");
  EXPECT_EQ(lines[53], " j st^dorvik::30 i  q 1");
  EXPECT_EQ(lines[57], " L +^dorvik:0 e  q 1");
  EXPECT_EQ(lines[62], "st");
  EXPECT_EQ(lines[66], " s @ad=\"" + Dos("Последействия не выполнены") + "\"");
  EXPECT_EQ(lines[67],
            " L +^dorvik:1 e  s @ad=\"" + Dos("Уже выполняется установка продукта в данный момент") + "\" Q");
  EXPECT_EQ(lines[68], " s $zt=\"er^dorvik\"");
  EXPECT_EQ(lines[69], " n res s res=\"\"");
  EXPECT_EQ(lines[70], " d w(\"go^INST - " + Dos("Настройка") + "\")");
  EXPECT_EQ(lines[71], " s res=$$go^INST g:res'=\"\" ex");
  EXPECT_EQ(lines[72], "ex s @ad=res");
  EXPECT_EQ(lines[73], " Q");
  EXPECT_EQ(lines[74], "er ; " + Dos("метка обработки ошибок"));
  EXPECT_EQ(lines[75], " s @ad=$ze");
  EXPECT_EQ(lines[76], " Q");
  // Every line is single-byte 866 text: no byte of a 1251 Cyrillic letter
  // that 866 does not share survives.
  for (const auto& line : lines) EXPECT_EQ(Cp1251ToCp866(Cp866ToCp1251(line)), line) << line;
}

TEST(PostActionRoutine, NameFollowsTheParameterWhereTheRoutineCallsItself) {
  const auto lines = BuildPostActionRoutine({"a^B", "c^D"}, {"x", "y"}, "zz", "P", "1");
  ASSERT_EQ(lines.size(), 79u);
  EXPECT_EQ(lines[0], "zz");
  EXPECT_EQ(lines[1], "zz");
  EXPECT_EQ(lines[53], " j st^zz::30 i  q 1");
  EXPECT_EQ(lines[68], " s $zt=\"er^zz\"");
  // The globals and locks keep their fixed names.
  EXPECT_EQ(lines[50], " s ad=$na(^R(\"dorvik\"))");
  EXPECT_EQ(lines[72], " d w(\"c^D - y\")");
  EXPECT_EQ(lines[73], " s res=$$c^D g:res'=\"\" ex");
}

TEST(PostActionRoutine, QuoteInsideDescriptionIsDoubled) {
  const auto lines = BuildPostActionRoutine({"a^B"}, {Ru("Модуль \"Касса\"")}, "dorvik", "P", "1");
  EXPECT_EQ(lines[70], " d w(\"a^B - " + Dos("Модуль \"\"Касса\"\"") + "\")");
}

TEST(PostActionRoutine, EntryReferences) {
  for (const char* good : {"go^INST", "%go^%INST", "1^INST", "^INST", "a1^My.Pkg.Rtn", "Z^A"}) {
    EXPECT_TRUE(IsValidEntryReference(good)) << good;
  }
  for (const char* bad : {"", "go", "go^", "^", "go^IN ST", "go^INST\" w 1", "go^INST(1)", "g-o^INST", "go^^INST",
                          "go^1INST", "go^INST.", "1a^INST", "go^INST,x", "$$go^INST"}) {
    EXPECT_FALSE(IsValidEntryReference(bad)) << bad;
  }
}

TEST(PostActionRoutine, UnfitPostActions) {
  Distribution d;
  EXPECT_EQ(FindUnfitPostAction(d), -1);
  d.PostActionLabels = {"a^B", "c^D"};
  d.PostActionDescriptions = {"ok", "fine"};
  EXPECT_EQ(FindUnfitPostAction(d), -1);
  d.PostActionLabels[1] = "c^D\") k ^X w(\"";
  EXPECT_EQ(FindUnfitPostAction(d), 1);
  d.PostActionLabels[1] = "c^D";
  d.PostActionDescriptions[0] = "two\nlines";
  EXPECT_EQ(FindUnfitPostAction(d), 0);
  d.PostActionDescriptions[0] = "ok";
  d.PostActionDescriptions.pop_back();
  EXPECT_EQ(FindUnfitPostAction(d), 1);
}

TEST(PostActionRoutine, StringExpressions) {
  EXPECT_EQ(MStringExpression(""), "\"\"");
  EXPECT_EQ(MStringExpression("abc"), "\"abc\"");
  EXPECT_EQ(MStringExpression("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(MStringExpression("\"),$$X^Y(\""), "\"\"\"),$$X^Y(\"\"\"");
  EXPECT_EQ(MStringExpression("a\r\nb"), "\"a\"_$C(13)_$C(10)_\"b\"");
  EXPECT_EQ(MStringExpression("\x01"), "$C(1)");
}

}  // namespace
}  // namespace dorvik
