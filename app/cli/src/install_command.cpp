#include "cli/install_command.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

#include "answer_file.h"
#include "cli_texts.h"
#include "app/driver.h"
#include "app/log_file.h"
#include "app/settings_file.h"
#include "app/startup.h"
#include "distribution/funcs.h"
#include "cli/cli_options.h"
#include "cli/password_input.h"
#include "console.h"
#include "distribution/codepage.h"
#include "install_history.h"
#include "interrupt.h"
#include "json_commands.h"
#include "json_report.h"
#include "locale_text.h"
#include "engine/connection.h"
#include "engine/install_record.h"
#include "engine/plan.h"
#include "link/tcp_link.h"
#include "safety_commands.h"
#include "terminal_ui.h"
#ifdef _WIN32
#include "link/vism_link.h"
#endif

namespace dorvik::cli {

namespace {

constexpr const char* kDefaultPort = "1972";

// `message` in code page 1251.
int Usage(const std::string& program, const std::string& message) {
  const LocaleText text;
  PutText(stderr, program + ": " + text.Show(message) + "\n" + text.Show(texts::TryHelp(program)) + "\n");
  return kUsageError;
}

// The installation once the options are read and the texts converted.
class Installation {
 public:
  Installation(const CliOptions& options, const LocaleText& text, TerminalUi& ui, Session& s,
               const signing::TrustSettings& trust, CommandReport& report)
      : o_(options), text_(text), ui_(ui), s_(s), trust_(trust), report_(report) {}

  int Run(const std::string& password, const std::string& ns) {
    if (const int status = Open(password, ns); status != kOpened) return status;
    report_.product = s_.dist.ProductName;
    report_.version = s_.dist.Version;
    report_.build = s_.dist.BuildDate;
    report_.ns = s_.connection.Namespace;
    stage_ = o_.command;
    if (o_.command == "plan") return RunPlan(s_, ui_, text_, o_.json);
    if (o_.command == "verify") return o_.json ? RunVerifyJson(s_, ui_, report_) : RunVerify(s_, ui_, text_);
    if (o_.command == "rollback") {
      return o_.json ? RunRollbackJson(s_, ui_, o_.backupId, report_) : RunRollback(s_, ui_, text_, o_.backupId);
    }
    if (o_.command == "backups") {
      return o_.json ? RunBackupsJson(s_, ui_, o_.dropId, report_) : RunBackups(s_, ui_, text_, o_.dropId);
    }
    if (o_.command == "history") return RunHistory(s_, ui_, text_, o_.json ? &report_ : nullptr);
    return Install();
  }

  // Where the run was when it stopped (CommandReport::errorStage).
  const std::string& Stage() const { return stage_; }
  // --if-changed found the distribution installed: nothing was done, not
  // even an install log.
  bool NothingDone() const { return nothingDone_; }

 private:
  static constexpr int kOpened = -1;

  int Install() {
    stage_ = "install";
    report_.digest = DistributionDigest(s_.files.DataFilePath);
    // How the routines stand now: for the report, and for --if-changed.
    if (o_.json || o_.ifChanged) {
      try {
        report_.plan = BuildPlan(s_);
      } catch (const DamagedFileError& e) {
        s_.reader.NoteDamage(e.what());
        return DamagedFile();
      }
    }
    if (o_.ifChanged) {
      const InstalledState installed = CompareWithInstalled(s_.link, report_.plan->routines, report_.digest);
      if (installed.same) {
        ui_.Say(Ru("Этот дистрибутив уже установлен в области ") + s_.connection.Namespace + Ru(" (запись ") +
                installed.current->id + Ru("): ничего не изменено."));
        nothingDone_ = true;
        return kInstalled;
      }
      ui_.Say(Ru("Установка нужна: ") + installed.reason + ".");
    }

    report_.changed = true;
    std::optional<std::string> backup;
    if (o_.backup) {
      stage_ = "backup";
      backup = TakeBackup(s_, ui_);
      if (!backup) return s_.reader.Damage().empty() ? kInstallFailed : DamagedFile();
      report_.backupId = backup;
    }
    stage_ = "install";
    bool installed = RunInstallation(s_);
    report_.postActionsRun = ui_.PostActionsBegan() && !s_.dist.PostActionLabels.empty();
    report_.postActionLines = ui_.PostActionLines();
    if (!installed && ui_.PostActionsBegan()) stage_ = "post_actions";
    if (backup) MarkBackup(s_, *backup, installed);
    if (!installed && backup && o_.rollbackOnFailure) RollBackAfterFailure(s_, ui_, *backup);
    if (installed && o_.verify) {
      stage_ = "verify";
      if (!VerifyAfterInstall(s_, ui_)) installed = false;
    }
    if (installed) report_.recordId = RecordAfterInstall(s_, ui_, report_.digest, backup);
    ui_.Say(installed ? Ru("Установка дистрибутива успешно завершена.")
                      : Ru("Установка дистрибутива не была завершена. Сохраните протокол установки и обратитесь "
                           "к разработчику дистрибутива."));
    if (!installed && !s_.reader.Damage().empty()) return DamagedFile();
    return installed ? kInstalled : kInstallFailed;
  }

  // Start-up and connection, shared by every command: answers kOpened once
  // the session uses the target namespace, else the exit status. Only an
  // installation needs the licence accepted; rollback and backups need no
  // distribution.
  int Open(const std::string& password, const std::string& ns) {
    const bool install = o_.command.empty();
    const bool needsDistribution = install || o_.command == "plan" || o_.command == "verify";
    stage_ = "start";
    std::vector<std::string> positional;
    if (o_.soft) positional.push_back("q");
    if (o_.noPreActions) positional.push_back("no");
    const StartupResult start = StartSession(s_, positional, trust_);
    report_.signature = s_.signature;
    if (o_.noLibraryTest) s_.options.DetectLibrary = false;
    if (o_.chunkLimit) s_.options.ChunkLimit = std::min(*o_.chunkLimit, kMaxChunkLimit);

    if (!start.headerRead && !needsDistribution) {
      s_.options.DetectLibrary = false;  // nothing to test
    } else if (start.signatureRefused) {
      ui_.ShowMessage(Ru("Ошибка инициализации установщика: ") + start.headerFailure);
      return kBadDistribution;
    } else if (!start.headerRead) {
      ui_.ShowMessage(Ru("Ошибка инициализации установщика"));
      if (!s_.reader.Damage().empty()) return DamagedFile();
      return kBadDistribution;
    }
    if (!o_.quiet && start.headerRead) {
      ui_.Say(Ru("Эта программа установит: ") + s_.dist.ProductName + " " + s_.dist.Version + ". " + Ru("Сборка: ") +
              s_.dist.BuildDate);
    }
    if (install && start.licencePresent && !o_.acceptLicence && !AcceptLicence(start.licenceLines)) {
      return kUsageError;
    }

    // The source password is checked before anything reaches the server.
    if (o_.keepSources && (password.empty() || password != s_.dist.SourcePassword)) {
      ui_.ShowMessage(Ru("Неверный пароль на исходные тексты: исходные тексты сохранить нельзя"));
      return kUsageError;
    }

    std::string ip = s_.connection.IP;
    std::string port = s_.connection.Port;
    if (o_.server) {
      SplitServer(*o_.server, ip, port);
      if (port.empty()) port = kDefaultPort;
    }
    stage_ = "connect";
    const ConnectOutcome connected = ConnectToServer(s_, ip, port);
    // The library test reads the data file: damage found there is no
    // failure of the server.
    if (!s_.reader.Damage().empty()) return DamagedFile();
    if (!connected.ok) return kNoServer;

    std::string target = connected.namespaces.at(static_cast<std::size_t>(connected.selected));
    if (connected.library) {
      ui_.Say(connected.libraryNotice);
      if (o_.ns && !SameTextIgnoringCase(ns, target)) {
        ui_.Say(Ru("Область ") + ns + Ru(" не используется: библиотечные программы ставятся в ") + target);
      }
    } else if (o_.ns) {
      const auto it = std::find_if(connected.namespaces.begin(), connected.namespaces.end(),
                                   [&](const std::string& name) { return SameTextIgnoringCase(name, ns); });
      if (it == connected.namespaces.end()) {
        const std::string message = Ru("На сервере нет области ") + ns;
        ui_.ShowMessage(message);
        s_.log.Add(message);
        return kNoServer;
      }
      target = *it;
    }

    NamespaceChoice choice;
    choice.ns = target;
    choice.keepSources = o_.keepSources;
    choice.noRestore = o_.noRestore;
    choice.noAfter = o_.noPostActions;
    std::vector<std::string> summary;
    if (!SwitchToNamespace(s_, choice, summary)) return kNoServer;
    if (!o_.quiet && install) {
      for (const auto& line : summary) ui_.Say(line);
    }
    return kOpened;
  }

  // The data file is damaged, wherever that was found: the cause goes to
  // standard error as well as to the log.
  int DamagedFile() {
    std::string cause = s_.reader.Damage();
    try {
      cause = text_.Take(cause);  // the file's path is in the locale's encoding
    } catch (const TextConversionError&) {
    }
    ui_.ShowMessage(Ru("Файл данных испорчен: ") + cause);
    return kBadDistribution;
  }

  bool AcceptLicence(const std::vector<std::string>& lines) {
    if (!ui_.Interactive()) {
      ui_.ShowMessage(
          Ru("Дистрибутив поставляется с лицензионным соглашением (licence.txt): "
             "примите его с --accept-licence"));
      return false;
    }
    ui_.Say(Ru("Прочитайте это Лицензионное Соглашение"));
    ui_.Say("");
    for (const auto& line : lines) ui_.Say(line);
    ui_.Say("");
    if (ui_.Confirm(Ru("Вы принимаете условия Лицензионного Соглашения?"), false, false)) return true;
    ui_.ShowMessage(Ru("Лицензионное Соглашение не принято: установка не выполнялась"));
    return false;
  }

  const CliOptions& o_;
  const LocaleText& text_;
  TerminalUi& ui_;
  Session& s_;
  const signing::TrustSettings& trust_;
  CommandReport& report_;
  std::string stage_;
  bool nothingDone_ = false;
};

bool AsksForJson(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), "--json") != args.end();
}

// The keys of --trusted-key and --require-signature. Throws UsageError
// (message in the locale's encoding) for a file that is not a public key.
signing::TrustSettings CommandLineTrust(const CliOptions& options, const LocaleText& text) {
  signing::TrustSettings trust;
  trust.requireSignature = options.requireSignature;
  for (const auto& file : options.trustedKeyFiles) {
    // Arguments are UTF-8 on Windows and the locale's bytes elsewhere.
#ifdef _WIN32
    std::ifstream in(std::filesystem::path(std::u8string(file.begin(), file.end())), std::ios::binary);
#else
    std::ifstream in(file, std::ios::binary);
#endif
    std::stringstream content;
    if (in) content << in.rdbuf();
    if (!in || content.str().size() > 4096) {
      throw UsageError(file + ": " + text.Show(Ru("файл открытого ключа не читается")));
    }
    try {
      trust.trustedKeys.push_back(signing::ParsePublicKey(content.str()));
    } catch (const signing::KeyFormatError& e) {
      throw UsageError(file + ": " + text.Show(e.what()));
    }
  }
  return trust;
}

// The link the options ask for. The VisM control is tested first of all, as
// the wizard does at its start: without it nothing is done and no log is
// written.
std::unique_ptr<ServerLink> OpenLink(const CliOptions& options, const LocaleText& text) {
#ifdef _WIN32
  if (options.link == LinkKind::kVism) {
    std::string failure;
    if (VismLink::IsRegistered()) {
      try {
        return std::make_unique<VismLink>();
      } catch (const std::exception& e) {
        failure = e.what();
      }
    }
    PutText(stderr, text.Show(Ru("Cache-клиент не обнаружен. Установите сначала cache-клиент")) + "\n");
    if (!failure.empty()) PutText(stderr, failure + "\n");
    return nullptr;
  }
#else
  (void)text;
#endif
  (void)options;
  return std::make_unique<TcpLink>();
}

}  // namespace

int RunInstaller(const std::string& program, const std::vector<std::string>& args) {
  CliOptions options;
  try {
    options = ParseCliOptions(args);
  } catch (const UsageError& e) {
    if (AsksForJson(args)) {
      CommandReport report;
      report.command = !args.empty() && (args[0] == "plan" || args[0] == "verify" || args[0] == "rollback" ||
                                         args[0] == "backups" || args[0] == "history")
                           ? args[0]
                           : "install";
      report.status = kUsageError;
      report.errorStage = "usage";
      try {
        report.errorText = LocaleText().Take(e.what());  // the arguments are in the locale's encoding
      } catch (const TextConversionError&) {
        report.errorText = "?";
      }
      PrintReport(report);
    }
    return Usage(program, e.what());
  }
  const LocaleText text;
  if (options.help) {
    PutText(stdout, text.Show(UsageText(program)));
    return kInstalled;
  }

  signing::TrustSettings trust;
  try {
    trust = CommandLineTrust(options, text);
  } catch (const UsageError& e) {
    return Usage(program, e.what());
  }
  const std::unique_ptr<ServerLink> link = OpenLink(options, text);
  if (!link) return kNoClient;
  std::string password, ns;
  try {
    std::optional<std::string> typed = options.password;
    if (options.passwordFile) {
      typed = ReadPasswordFile(*options.passwordFile);
    } else if (options.keepSources && !typed) {
      // Asked on the terminal, so that it never stands on the command line.
      typed = AskPasswordOnTerminal(text.Show(Ru("Пароль на исходные тексты: ")));
      if (!typed) return Usage(program, texts::KeepSourcesNeedsPassword());
    }
    if (typed) password = text.Take(*typed);
    if (options.ns) ns = text.Take(*options.ns);
  } catch (const PasswordFileError& e) {
    return Usage(program, e.what());
  } catch (const TextConversionError& e) {
    return Usage(program, texts::ArgumentNotConvertible(e.what()));
  }
  AnswerFile answers;
  try {
    if (options.answersFile) answers = AnswerFile(*options.answersFile, text);
  } catch (const AnswerFileError& e) {
    return Usage(program, e.what());
  }

  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::current_path(ec);
  if (ec) {
    PutText(stderr, program + ": " + text.Show(texts::CurrentFolderUnreadable(ec.message())) + "\n");
    return kBadDistribution;
  }

  TerminalUiConfig config;
  config.quiet = options.quiet;
  config.defaults = options.defaults;
  config.answers = options.answersFile ? &answers : nullptr;
  config.interactive = IsTerminal(0) && IsTerminal(2);
  config.progressTerminal = IsTerminal(2);
  TerminalUi ui(text, config);
  const std::unique_ptr<SettingsStore> settings = OpenUserSettings();
  SystemClock clock;
  Session s(FileLocations::In(folder), *link, ui, clock, *settings);
  ui.Attach(s.run, s.log);
  InstallInterruptHandler(program + ": " + text.Show(texts::Interrupted()));

  CommandReport report;
  report.command = options.command.empty() ? "install" : options.command;
  Installation installation(options, text, ui, s, trust, report);
  int status = kInstallFailed;
  try {
    status = installation.Run(password, ns);
  } catch (const std::exception& e) {
    ui.ShowMessage(AppFailureLine(e.what()));
    LogAppFailure(s, e.what());
    status = kInstallFailed;
  }

  // The other commands leave the installation's protocol alone, and so
  // does an installation that found nothing to do.
  if (options.command.empty() && !installation.NothingDone()) {
    // The protocol is written whatever happened, as the wizard does at exit.
    const LogFileResult written = WriteLogFile(s.log, s.files.LogPath, s.files.FallbackFolder);
    if (written.written && options.json) {
      const std::u8string path = written.path.u8string();
      report.logPath = std::string(path.begin(), path.end());
    } else if (written.written) {
      PutText(stdout, PathText(written.path) + "\n");
    } else {
      PutText(stderr,
              program + ": " + text.Show(Ru("Протокол установки не записан: ")) + PathText(written.path) + "\n");
    }
    std::fflush(stdout);
  }
  if (options.json && options.command != "plan") {
    report.status = status;
    if (status != kInstalled) {
      if (report.errorStage.empty()) report.errorStage = installation.Stage();
      if (report.errorText.empty() && !ui.Messages().empty()) report.errorText = ui.Messages().back();
    }
    PrintReport(report);
  }
  return status;
}

}  // namespace dorvik::cli
