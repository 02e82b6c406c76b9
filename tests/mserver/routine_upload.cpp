#include "routine_upload.h"

#include <iconv.h>

#include <stdexcept>

namespace mserver_test {

std::string Cp866(const std::string& utf8) {
  iconv_t cd = iconv_open("CP866", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: no CP866");
  std::string in = utf8;
  std::string out(in.size() * 2 + 4, '\0');
  char* src = in.data();
  char* dst = out.data();
  std::size_t left = in.size(), room = out.size();
  const std::size_t rc = iconv(cd, &src, &left, &dst, &room);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) throw std::runtime_error("iconv: cannot convert " + utf8);
  out.resize(out.size() - room);
  return out;
}

std::string SaveLine(const std::string& name) {
  return "k ^rMAC(\"" + name + "\") " +
         "ZR  X \"s i=\"\"\"\",q=$C(13,10) f  s i=$o(text(i)) Q:i=\"\"\"\"  s s=\"\"\"\" f "
         "k=1:1:$l(text(i),q) s s=$p(text(i),q,k) ZI s\" ZS " +
         name;
}

namespace {

mlink::Answer Run(mlink::Client& c, const std::string& ns, const std::string& code, const std::string& p1 = "",
                  const std::string& p2 = "") {
  return c.Call({ns, p1, p2, code});
}

}  // namespace

std::string UploadRoutine(mlink::Client& client, const std::string& ns, const std::vector<std::string>& lines,
                          bool keepSources, std::size_t chunkLimit, int* chunksSent) {
  const std::string& name = lines.at(0);
  auto a = Run(client, ns, "n text,i,k,q");
  if (a.error) return a.errorName;
  const std::size_t last = lines.size() - 1;
  int chunks = 0;
  for (std::size_t k = 1; k <= last;) {
    const std::size_t first = k;
    std::string chunk = lines[k];
    while (chunk.size() < chunkLimit && k < last) {
      ++k;
      chunk += "\r\n" + lines[k];
    }
    ++k;
    a = Run(client, ns, "s text(P1)=P2", std::to_string(first), chunk);
    ++chunks;
    if (a.error) return a.errorName;
  }
  if (chunksSent) *chunksSent = chunks;
  a = Run(client, ns, SaveLine(name));
  if (a.error) return a.errorName;
  a = Run(client, ns, "k text");
  if (a.error) return a.errorName;
  if (!keepSources) {
    a = Run(client, ns, "k ^ROUTINE(P1)", name);
    if (a.error) return a.errorName;
  }
  return "";
}

std::vector<std::string> PostActionRoutine(const std::vector<std::string>& labels,
                                           const std::vector<std::string>& descriptions) {
  const std::string q = "\"";
  std::vector<std::string> r = {
      "dorvik",
      "dorvik",
      Cp866(" ;Сгенерована установщиком дистрибутивов Велмора для выполнения "),
      Cp866(" ;последействий в фоновом задании"),
      Cp866(" ;Устанавливаемый продукт: Тест 1.0"),
      " Q",
      Cp866("w(s) ; Метка для записи сообщения о прогрессе"),
      " s s=$g(s) Q:s=\"\"",
      " n ad s ad=$$mesad",
      " n c s c=$o(@ad@(\"\"),-1)  s c=c+1",
      " s @ad@(c)=s",
      " Q",
      "mesad() q $na(^R(\"dorvik\"))",
      " ;",
      "resad() q $na(^R(\"dorvik_res\"))",
      " ;",
      Cp866("SetAnswer(s) ; $$Вызывается граф. клиентом для установки ответа на вопрос"),
      " n ad s ad=$$resad",
      " s @ad=$g(s)",
      " Q \"\"",
      " ;",
      Cp866("ask(t,l,def) ; $$ Вопрос к пользователю"),
      " ; :>",
      Cp866(" ; t - тип вопроса"),
      Cp866(" ;      1: Да-Нет; 2: запрос строки"),
      Cp866(" ; l - текст вопроса"),
      Cp866(" ; def - значение результата по умолчанию, зависит от типа вопроса"),
      Cp866(" ;       для типа 1:"),
      Cp866(" ;       1-Да(по умолчанию), 2-Нет"),
      Cp866(" ;       для типа 2:"),
      Cp866(" ;       строка"),
      Cp866(" ; :< зависит от типа вопроса"),
      Cp866(" ;    1: 1-Да, 2-Нет"),
      Cp866(" ;    2: введенная пользователем строка"),
      " ;",
      Cp866(" s t=$g(t) Q:t=\"\" \"\" ; не задан тип вопроса"),
      " s l=$g(l)",
      " s def=$g(def)",
      " i def=\"\",t=1 s def=1",
      Cp866(" l +^jobdorvik:0 i  l -^jobdorvik Q def   ; последействия выполняются не в фоновом "
            "задании. Диалог с пользователем не возможен"),
      " d w($C(2)_t_\"#\"_l_\"#\"_def)",
      " n ad",
      " s ad=$$resad",
      "wait h 1",
      " g:'$d(@ad) wait",
      " s ad(1)=@ad",
      " k @ad",
      " Q ad(1)",
      " ;",
      Cp866("job() ;Вызывается по job"),
      " s ad=$na(^R(\"dorvik\"))",
      " k @ad",
      " l +^jobdorvik",
      " j st^dorvik::30 i  q 1",
      " l -^jobdorvik",
      " Q 0",
      Cp866("jalive() ; Возвращает, работает ли фоновое задание последействий. 1 - работает"),
      " L +^dorvik:0 e  q 1",
      " q 0",
      Cp866("stf() ; для вызова st по $$ в случае неуспеха последействий"),
      " d st",
      " Q $g(^R(\"dorvik\"))",
      "st",
      " s ad=$$resad",
      " k @ad",
      " s ad=$na(^R(\"dorvik\"))",
      Cp866(" s @ad=\"Последействия не выполнены\""),
      Cp866(" L +^dorvik:1 e  s @ad=\"Уже выполняется установка продукта в данный момент\" Q"),
      " s $zt=\"er^dorvik\"",
      " n res s res=\"\"",
  };
  for (std::size_t k = 0; k < labels.size(); ++k) {
    r.push_back(" d w(" + q + labels[k] + " - " + Cp866(descriptions[k]) + q + ")");
    r.push_back(" s res=$$" + labels[k] + " g:res'=\"\" ex");
  }
  r.push_back("ex s @ad=res");
  r.push_back(" Q");
  r.push_back(Cp866("er ; метка обработки ошибок"));
  r.push_back(" s @ad=$ze");
  r.push_back(" Q");
  return r;
}

}  // namespace mserver_test
