#include "cli_texts.h"

#include <cerrno>

#include "distribution/codepage.h"
#include "locale_text.h"

namespace dorvik::cli::texts {

namespace {

std::string Quoted(const std::string& localText) { return Ru("«") + Typed(localText) + Ru("»"); }

}  // namespace

std::string Typed(const std::string& localText) {
  const LocaleText locale;
  std::string out;
  try {
    out = locale.Take(localText);
  } catch (const TextConversionError&) {
    for (const char c : localText) out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
  }
  return out;
}

std::string NeedsValue(const std::string& option) { return option + Ru(": нужно значение"); }
std::string TakesNoValue(const std::string& option) { return option + Ru(": значение не принимается"); }
std::string NeedsPositive(const std::string& option, const std::string& value) {
  return option + Ru(": нужно целое число больше 0, а не ") + Quoted(value);
}
std::string VismOnlyOnWindows() { return Ru("--link vism: элемент VisM есть только в Windows"); }
std::string LinkNeedsKind(const std::string& value) { return Ru("--link: нужно vism или tcp, а не ") + Quoted(value); }
std::string NeedsName(const std::string& option) { return option + Ru(": нужно имя области"); }
std::string NeedsFileName(const std::string& option) { return option + Ru(": нужно имя файла"); }
std::string UnknownArgument(const std::string& argument) { return Ru("неизвестный аргумент ") + Quoted(argument); }
std::string ExcludeEachOther(const std::string& first, const std::string& second) {
  return first + Ru(" и ") + second + Ru(" исключают друг друга");
}
std::string OnlyWithKeepSources(const std::string& option) {
  return option + Ru(" используется только с --keep-sources");
}
std::string OnlyWithPlan(const std::string& option) { return option + Ru(" используется только с командой plan"); }
std::string OnlyWithBackups(const std::string& option) {
  return option + Ru(" используется только с командой backups");
}
std::string OnlyWithInstallation(const std::string& option) {
  return option + Ru(" используется только при установке");
}
std::string OnlyWithInstallationOrRollback(const std::string& option) {
  return option + Ru(" используется только при установке и с командой rollback");
}
std::string RollbackOnFailureNeedsBackup() {
  return Ru("--rollback-on-failure нужна резервная копия: уберите --no-backup");
}
std::string NeedsBackupNumber(const std::string& option, const std::string& value) {
  return option + Ru(": нужен номер резервной копии, а не ") + Quoted(value);
}
std::string ServerNeedsAddress(const std::string& value) {
  return Ru("--server: нужно IP или IP:ПОРТ, а не ") + Quoted(value);
}
std::string PortOutOfRange(const std::string& value) {
  return Ru("--server: порт должен быть числом от 1 до 65535, а не ") + Quoted(value);
}

std::string TryHelp(const std::string& program) { return Ru("Справка: ") + program + " --help"; }
std::string KeepSourcesNeedsPassword() {
  return Ru(
      "для --keep-sources нужен пароль на исходные тексты: укажите --password-file ФАЙЛ или запустите "
      "программу в терминале");
}
std::string ArgumentNotConvertible(const std::string& why) {
  return Ru("аргумент нельзя перевести в кодировку 1251: ") + why;
}
std::string CurrentFolderUnreadable(const std::string& why) { return Ru("текущая папка не читается: ") + Typed(why); }

std::string Interrupted() { return Ru("прервано (Ctrl-C нажато три раза)"); }

std::string PasswordFileUnopenable(const std::string& file, const std::string& why) {
  return Ru("файл пароля ") + Typed(file) + Ru(" не открывается: ") + Typed(why);
}
std::string PasswordFileUnreadable(const std::string& file) {
  return Ru("файл пароля ") + Typed(file) + Ru(" не читается");
}
std::string PasswordFileEmpty(const std::string& file) {
  return Ru("в первой строке файла пароля ") + Typed(file) + Ru(" нет пароля");
}
std::string PasswordTooLong(const std::string& file) {
  return Ru("первая строка файла пароля ") + Typed(file) + Ru(" слишком длинна для пароля");
}

std::string AnswersFileUnopenable(const std::string& file) {
  return Ru("файл ответов ") + Typed(file) + Ru(" не открывается");
}
std::string AnswersFileUnreadable(const std::string& file) {
  return Ru("файл ответов ") + Typed(file) + Ru(" не читается");
}
std::string AnswerNotConvertible(const std::string& file, int line, const std::string& why) {
  return Typed(file) + ":" + std::to_string(line) + Ru(": ответ нельзя перевести в кодировку 1251: ") + why;
}

std::string HelpText(const std::string& program) {
  const std::string p = program;
  return Ru("Запуск: ") + p + Ru(" [--if-changed] [--json] [ПАРАМЕТР]...\n") + "       " + p +
         Ru(" plan [--json] [ПАРАМЕТР]...\n") + "       " + p + Ru(" verify [--json] [ПАРАМЕТР]...\n") + "       " + p +
         Ru(" rollback [--backup НОМЕР] [--json] [ПАРАМЕТР]...\n") + "       " + p +
         Ru(" backups [--drop НОМЕР] [--json] [ПАРАМЕТР]...\n") + "       " + p + Ru(" history [--json] [ПАРАМЕТР]...\n") +
         Ru(R"(Устанавливает дистрибутив из текущей папки (dorpack.dat) в область сервера без
мастера и пишет протокол установки (dorvik.txt).

Команды (соединяются с сервером, как установка, и протокол не пишут):
  plan                  показать, что сделает установка, ничего не меняя:
                        каждая программа новая, без изменений, изменена
                        (строки добавлены и удалены) или есть без исходника;
                        метка и программы проверки; последействия; итоги
  verify                проверить, что каждая программа дистрибутива есть на
                        сервере и совпадает с текстом дистрибутива; программа
                        без исходника проверяется только на наличие и
                        загрузку. Код 0, когда все совпадают, иначе 1
  rollback              вернуть программы области такими, какими их записала
                        последняя полная резервная копия (или копия НОМЕР):
                        замененные получают прежний вид, новые удаляются.
                        Прерванная (неполная) копия берется, только когда
                        названа, и тогда возвращаются лишь программы с целой
                        копией, остальные перечисляются
  backups               перечислить резервные копии области с их состоянием
                        и сказать, что держит прерванная копия; --drop НОМЕР
                        удаляет копию (прерванную тоже: это решает пользователь)
  history               перечислить дистрибутивы, установленные в область
                        (^DorvikInstalled): продукт, версия, сборка, сумма,
                        время, параметры, резервная копия, откачен ли
Последействия меняют данные приложения: откат их не отменяет.

Параметры:
  --link vism|tcp       путь к серверу: элемент VisM Cache-клиента (только
                        Windows, там по умолчанию) или связь TCP с mserver
                        (по умолчанию в других системах)
  --server IP[:ПОРТ]    сервер (по умолчанию сохраненные настройки, иначе
                        127.0.0.1:1972)
  --namespace ОБЛАСТЬ   целевая область (по умолчанию сохраненная, если сервер
                        ее перечисляет, иначе первая в списке; библиотечный
                        дистрибутив всегда ставится в библиотечную область)
  --keep-sources        сохранить исходные тексты программ; нужен пароль на
                        исходные тексты: из --password-file, иначе он
                        спрашивается в терминале (не виден при вводе)
  --password-file ФАЙЛ  взять пароль на исходные тексты из первой строки ФАЙЛА
  --password ПАРОЛЬ     пароль в командной строке, только для сценариев:
                        другие пользователи машины могут его увидеть (ps, /proc)
  --no-restore          не восстанавливать программы
  --no-post-actions     не выполнять последействия
  --soft                мягкий режим предусловий: при неудаче спрашивать,
                        прервать ли установку
  --no-pre-actions      не вызывать метку проверки
  --no-library-test     не проверять, библиотечные ли программы
  --chunk-limit N       наибольший текст за один вызов сервера (не больше 32700)
  --accept-licence      принять licence.txt, не показывая его
  --answers ФАЙЛ        ответы на вопросы последействий, по одному в строке,
                        по порядку ("1"/"2" или Да/Нет для вопросов да/нет)
  --defaults            отвечать на каждый вопрос ответом по умолчанию
  --quiet               не показывать ход установки
  --backup              (по умолчанию) перед установкой сохранить каждую
                        программу дистрибутива, которая уже есть в области,
                        в резервной копии на сервере (^DorvikBackup)
  --no-backup           не делать резервной копии
  --rollback-on-failure при неудаче установки откатить ее программы (код
                        завершения остается 1)
  --verify              проверить программы после успешной установки
  --if-changed          ставить, только если в области еще нет этого
                        дистрибутива; иначе ничего не менять, последействия не
                        выполнять, протокол не писать и завершиться с кодом 0.
                        "Уже есть" значит и то и другое: последняя записанная в
                        области установка (и не откаченная) имеет ту же сумму
                        SHA-256 файла dorpack.dat, и каждая программа проходит
                        проверку verify (исходник совпадает; без исходника:
                        есть и загружается)
  --trusted-key ФАЙЛ    доверять ключу издателя из ФАЙЛА (открытый ключ minisign;
                        можно несколько раз); тогда неподписанный дистрибутив,
                        чужая подпись или измененный файл отвергаются до
                        обращения к серверу (код 4)
  --require-signature   отвергать неподписанные дистрибутивы и без списка
                        доверенных ключей
  --json                вывести один документ JSON (UTF-8) на стандартный
                        вывод; ход и сообщения идут в стандартный вывод ошибок
  --help                показать эту справку

Вопросы задаются в терминале; без него и без --answers берется и пишется в
протокол ответ по умолчанию. Ctrl-C во время проверки или восстановления
спрашивает, прервать ли установку (без терминала прерывает ее); нажатое три
раза подряд сразу завершает программу.

Коды завершения: 0 установлено; 1 установка не удалась (или для verify
программа не совпадает; для rollback и backups копии нет, она неполна или
сервер отказал); 2 ошибка в командной строке, лицензия не принята или пароль
неверен; 3 нет связи с сервером или нет области; 4 дистрибутив не читается;
5 элемент VisM (Cache-клиент) не зарегистрирован.
)");
}

}  // namespace dorvik::cli::texts
