#include "engine/connection.h"

#include <algorithm>
#include <cctype>

#include "distribution/codepage.h"
#include "distribution/funcs.h"

namespace dorvik {

namespace {

const std::string kSystemNamespace = "%SYS";
const std::string kLibraryNamespace = "%CACHELIB";

void LogConnectionGroup(Session& s, const std::string& heading) {
  s.log.Add("");
  s.log.Add(heading);
  s.log.Add(Ru("Параметры соединения:"));
  s.log.Add(Ru("IP адрес:") + s.connection.IP);
  s.log.Add(Ru("Порт:") + s.connection.Port);
  s.log.Add(Ru("Область:") + s.connection.Namespace);
  s.log.Add("");
}

std::string CannotConnectText() {
  return Ru("Не удается создать соединение с Cache сервером. Попробуйте задать другие параметры");
}

long long ToInteger(const std::string& text) {
  // M numbers: the leading numeric part counts, anything else reads as 0.
  try {
    std::size_t used = 0;
    return std::stoll(text, &used);
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

std::string NormalisePort(const std::string& field) {
  const auto first = field.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = field.find_last_not_of(' ');
  std::string port = field.substr(first, last - first + 1);
  if (std::none_of(port.begin(), port.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    return {};
  }
  return port;
}

void FillNamespaceList(Session& s, std::vector<std::string>& list, int& selected) {
  list.clear();
  selected = -1;
  s.link.RunCode("$zu(90,0)");
  const long long count = ToInteger(s.link.GetValue());
  s.link.SetParam(1, std::int64_t{1});
  while (ToInteger(s.link.GetParam(1)) <= count) {
    s.link.RunCode("$zu(90,2,0,P1)");
    const std::string name = s.link.GetValue();
    if (list.empty() || name != list.back()) list.push_back(name);
    s.link.SetParam(1, std::int64_t{ToInteger(s.link.GetParam(1)) + 1});
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (SameTextIgnoringCase(list[i], s.connection.PreferredNamespace)) {
      selected = static_cast<int>(i);
      return;
    }
  }
  if (!list.empty()) selected = 0;
}

ConnectOutcome ConnectToServer(Session& s, const std::string& ipField, const std::string& portField) {
  ConnectOutcome out;
  out.ipField = ipField;
  out.portField = portField;
  const std::string ip = Translate(ipField, " ", "");
  const std::string port = NormalisePort(portField);
  if (ip.empty() || port.empty()) {
    s.ui.ShowMessage(Ru("Параметры соединения должны быть указаны"));
    return out;
  }

  s.ui.SetWizardStayOnTop(false);
  s.ui.SetProgressHeight(kProgressCompact);
  s.ui.SetStage(Ru("Соединение с сервером..."));
  s.ui.SetAnimation(Animation::FindFolder);
  s.ui.SetStayOnTop(false);
  s.ui.ShowProgress();
  s.ui.RefreshProgress();

  // Whatever happens below, the windows come back to their usual state.
  struct Restore {
    Session& s;
    ~Restore() {
      s.ui.SetWizardStayOnTop(true);
      s.ui.SetStayOnTop(true);
      s.ui.CloseProgress();
      s.ui.ShowWizard();
    }
  } restore{s};

  s.connection.IP = ip;
  s.connection.Port = port;
  s.connection.Namespace = kSystemNamespace;
  out.ipField = ip;
  out.portField = port;
  LogConnectionGroup(s, Ru("Подключение к системной области."));

  try {
    s.link.SetServer(BuildServerString(s.connection.IP, s.connection.Port));
    s.link.SetNamespace(s.connection.Namespace);
    s.link.Evaluate("$ZNSPACE");

    std::string usedIp = s.connection.IP, usedPort = s.connection.Port;
    ParseServerString(s.link.GetServer(), usedIp, usedPort);
    if (usedIp != s.connection.IP || usedPort != s.connection.Port) {
      s.connection.IP = usedIp;
      s.connection.Port = usedPort;
      out.ipField = usedIp;
      out.portField = usedPort;
      s.log.Add(Ru("Параметры соединения были изменены пользователем."));
      s.log.Add(Ru("Новые параметры соединения:"));
      s.log.Add(Ru("IP адрес:") + s.connection.IP);
      s.log.Add(Ru("Порт:") + s.connection.Port);
      s.log.Add(Ru("Область:") + s.connection.Namespace);
      s.log.Add("");
    }

    if (s.link.ErrorCode() != 0) {
      s.ui.ShowMessage(CannotConnectText());
      s.log.Add(Ru("Ошибка соединения. ") + s.link.ErrorText());
      return out;
    }

    s.log.Add(Ru("Успешное соединение с областью ") + s.connection.Namespace);
    s.log.Add(Ru("Версия Cache: ") + s.link.Evaluate("$ZVERSION"));

    FillNamespaceList(s, out.namespaces, out.selected);
    if (out.namespaces.empty()) {
      // Nothing to install into: say so and stay on the connection page.
      const std::string text = Ru("Сервер не сообщил ни одной области для установки");
      s.ui.ShowMessage(text);
      s.log.Add(text);
      return out;
    }

    if (s.reader.IsLibraryDistribution(s.options.DetectLibrary)) {
      // Library routines go into the library namespace when the server has
      // one, otherwise into the first namespace listed.
      int target = 0;
      for (std::size_t i = 0; i < out.namespaces.size(); ++i) {
        if (SameTextIgnoringCase(out.namespaces[i], kLibraryNamespace)) {
          target = static_cast<int>(i);
          break;
        }
      }
      out.selected = target;
      out.library = true;
      out.libraryNotice = Ru("Дистрибутив содержит библиотечные программы.") + "\r\n" +
                          Ru("Установка будет производиться в библиотечную") + "\r\n" + Ru("область ") +
                          out.namespaces[static_cast<std::size_t>(target)];
    }
  } catch (const std::exception& e) {
    // A failure of the link itself rather than an error the server reported.
    s.ui.ShowMessage(e.what());
    LogAppFailure(s, e.what());
    return out;
  }
  out.ok = true;
  return out;
}

bool SwitchToNamespace(Session& s, const NamespaceChoice& choice, std::vector<std::string>& summary) {
  s.options.KeepSources = choice.keepSources;
  s.options.RestoreRoutines = !choice.noRestore;
  s.options.RunPostActions = !choice.noAfter;
  s.connection.Namespace = choice.ns;

  s.ui.SetProgressHeight(kProgressCompact);
  s.ui.SetStage(Ru("Соединение с областью ") + s.connection.Namespace + "...");
  s.ui.SetAnimation(Animation::FindFolder);
  s.ui.ShowProgress();
  s.ui.RefreshProgress();
  LogConnectionGroup(s, Ru("Подключение к выбранной области."));

  try {
    s.link.SetNamespace(s.connection.Namespace);
    s.link.Evaluate("$ZNSPACE");
  } catch (const std::exception& e) {
    s.ui.CloseProgress();
    s.ui.ShowWizard();
    s.ui.ShowMessage(e.what());
    LogAppFailure(s, e.what());
    return false;
  }
  s.ui.CloseProgress();
  s.ui.ShowWizard();

  if (s.link.ErrorCode() != 0) {
    s.ui.ShowMessage(CannotConnectText());
    s.log.Add(Ru("Ошибка соединения. ") + s.link.ErrorText());
    return false;
  }
  s.log.Add(Ru("Успешное соединение с областью ") + s.connection.Namespace);
  summary = FillSettingsSummary(s);
  return true;
}

std::vector<std::string> FillSettingsSummary(const Session& s) {
  const std::string indent(10, ' ');
  std::vector<std::string> lines;
  lines.push_back(Ru("Устанавливаемый продукт:"));
  lines.push_back(indent + s.dist.ProductName + " " + s.dist.Version);
  lines.push_back(indent + Ru("сборка ") + s.dist.BuildDate);
  lines.push_back("");
  lines.push_back(Ru("Область Cache:"));
  lines.push_back(indent + s.connection.Namespace);
  lines.push_back(indent +
                  (s.options.KeepSources ? Ru("С исходными текстами программ") : Ru("Без исходных текстов программ")));
  if (s.options.RunPreActions) {
    lines.push_back(indent + Ru("выполнять метки преддействия"));
    lines.push_back(indent + (s.options.HardPreAction ? Ru("установка с \"жестким\" преддействием")
                                                      : Ru("установка с \"мягким\" преддействием")));
  } else {
    lines.push_back(indent + Ru("преддействия не выполнять"));
  }
  lines.push_back(indent +
                  (s.options.RestoreRoutines ? Ru("восстанавливать программы") : Ru("не восстанавливать программы")));
  lines.push_back(indent +
                  (s.options.RunPostActions ? Ru("выполнять метки последействия") : Ru("последействия НЕ ВЫПОЛНЯТЬ")));
  lines.push_back("");
  lines.push_back(Ru("Параметры сервера Cache:"));
  lines.push_back(indent + Ru("IP адрес : ") + s.connection.IP);
  lines.push_back(indent + Ru("Порт       : ") + s.connection.Port);
  lines.push_back("");
  return lines;
}

}  // namespace dorvik
