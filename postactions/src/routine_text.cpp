#include <algorithm>
#include <cctype>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "distribution/routine_name.h"
#include "engine/upload.h"
#include "postactions/postinstall.h"

namespace dorvik {

namespace {

// A Russian comment or text, as the server holds it.
std::string Dos(std::string_view utf8) { return Cp1251ToCp866(Ru(utf8)); }

std::string DoubleQuotes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out;
}

}  // namespace

std::string MStringExpression(std::string_view text) {
  std::string out;
  bool inLiteral = false;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 32 || b == 127) {
      if (inLiteral) out += '"';
      if (!out.empty()) out += '_';
      out += "$C(" + std::to_string(b) + ")";
      inLiteral = false;
      continue;
    }
    if (!inLiteral) {
      if (!out.empty()) out += '_';
      out += '"';
      inLiteral = true;
    }
    out += c;
    if (c == '"') out += '"';
  }
  if (inLiteral) out += '"';
  if (out.empty()) out = "\"\"";
  return out;
}

std::vector<std::string> BuildPostActionRoutine(const std::vector<std::string>& labels,
                                                const std::vector<std::string>& descriptions,
                                                const std::string& routineName, const std::string& productName,
                                                const std::string& version) {
  std::vector<std::string> out;
  if (labels.empty()) return out;
  const std::string& r = routineName;
  out.reserve(75 + 2 * labels.size());
  out = {
      r,
      r,
      " ;" + Dos("Сгенерована установщиком дистрибутивов Велмора для выполнения "),
      " ;" + Dos("последействий в фоновом задании"),
      " ;" + Cp1251ToCp866(Ru("Устанавливаемый продукт: ") + productName + " " + version),
      " Q",
      "w(s) ;" + Dos(" Метка для записи сообщения о прогрессе"),
      " s s=$g(s) Q:s=\"\"",
      " n ad s ad=$$mesad",
      " n c s c=$o(@ad@(\"\"),-1)  s c=c+1",
      " s @ad@(c)=s",
      " Q",
      "mesad() q $na(^R(\"dorvik\"))",
      " ;",
      "resad() q $na(^R(\"dorvik_res\"))",
      " ;",
      "SetAnswer(s) ; $$" + Dos("Вызывается граф. клиентом для установки ответа на вопрос"),
      " n ad s ad=$$resad",
      " s @ad=$g(s)",
      " Q \"\"",
      " ;",
      "ask(t,l,def) ; $$ " + Dos("Вопрос к пользователю"),
      " ; :>",
      " ; t - " + Dos("тип вопроса"),
      " ;      1: " + Dos("Да-Нет; 2: запрос строки"),
      " ; l - " + Dos("текст вопроса"),
      " ; def - " + Dos("значение результата по умолчанию, зависит от типа вопроса"),
      " ;       " + Dos("для типа 1:"),
      " ;       1-" + Dos("Да(по умолчанию), 2-Нет"),
      " ;       " + Dos("для типа 2:"),
      " ;       " + Dos("строка"),
      " ; :< " + Dos("зависит от типа вопроса"),
      " ;    1: 1-" + Dos("Да, 2-Нет"),
      " ;    2: " + Dos("введенная пользователем строка"),
      " ;",
      " s t=$g(t) Q:t=\"\" \"\" ; " + Dos("не задан тип вопроса"),
      " s l=$g(l)",
      " s def=$g(def)",
      " i def=\"\",t=1 s def=1",
      " l +^jobdorvik:0 i  l -^jobdorvik Q def   ; " +
          Dos("последействия выполняются не в фоновом задании. Диалог с пользователем не возможен"),
      " d w($C(2)_t_\"#\"_l_\"#\"_def)",
      " n ad",
      " s ad=$$resad",
      "wait h 1",
      " g:'$d(@ad) wait",
      " s ad(1)=@ad",
      " k @ad",
      " Q ad(1)",
      " ;",
      "job() ;" + Dos("Вызывается по job"),
      " s ad=$na(^R(\"dorvik\"))",
      " k @ad",
      " l +^jobdorvik",
      " j st^" + r + "::30 i  q 1",
      " l -^jobdorvik",
      " Q 0",
      "jalive() ; " + Dos("Возвращает, работает ли фоновое задание последействий. 1 - работает"),
      " L +^dorvik:0 e  q 1",
      " q 0",
      "stf() ; " + Dos("для вызова st по $$ в случае неуспеха последействий"),
      " d st",
      " Q $g(^R(\"dorvik\"))",
      "st",
      " s ad=$$resad",
      " k @ad",
      " s ad=$na(^R(\"dorvik\"))",
      " s @ad=\"" + Dos("Последействия не выполнены") + "\"",
      " L +^dorvik:1 e  s @ad=\"" + Dos("Уже выполняется установка продукта в данный момент") + "\" Q",
      " s $zt=\"er^" + r + "\"",
      " n res s res=\"\"",
  };
  for (std::size_t k = 0; k < labels.size(); ++k) {
    const std::string description = k < descriptions.size() ? descriptions[k] : std::string();
    out.push_back(" d w(\"" + labels[k] + " - " + DoubleQuotes(Cp1251ToCp866(description)) + "\")");
    out.push_back(" s res=$$" + labels[k] + " g:res'=\"\" ex");
  }
  out.push_back("ex s @ad=res");
  out.push_back(" Q");
  out.push_back("er ; " + Dos("метка обработки ошибок"));
  out.push_back(" s @ad=$ze");
  out.push_back(" Q");
  return out;
}

std::vector<std::string> BuildPostActionRoutine(const Session& s) {
  return BuildPostActionRoutine(s.dist.PostActionLabels, s.dist.PostActionDescriptions, s.files.PostActionRoutineName,
                                s.dist.ProductName, s.dist.Version);
}

}  // namespace dorvik
