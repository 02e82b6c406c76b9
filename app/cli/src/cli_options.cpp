#include "cli/cli_options.h"

#include <algorithm>
#include <charconv>

#include "cli_texts.h"
#include "distribution/codepage.h"

namespace dorvik::cli {

namespace {

bool IsDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

int ParsePositive(const std::string& option, const std::string& text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1) {
    throw UsageError(texts::NeedsPositive(option, text));
  }
  return value;
}

bool IsCommand(const std::string& word) {
  return word == "plan" || word == "verify" || word == "rollback" || word == "backups" || word == "history";
}

// The options that belong to one command only.
void CheckCommandOptions(const CliOptions& o, const std::vector<std::string>& args) {
  const bool install = o.command.empty();
  const auto given = [&](const char* option) {
    return std::any_of(args.begin(), args.end(),
                       [&](const std::string& a) { return a == option || a.rfind(std::string(option) + "=", 0) == 0; });
  };
  const auto onlyFor = [&](const char* option, bool allowed, std::string (*where)(const std::string&)) {
    if (given(option) && !allowed) throw UsageError(where(option));
  };
  onlyFor("--if-changed", install, texts::OnlyWithInstallation);
  onlyFor("--drop", o.command == "backups", texts::OnlyWithBackups);
  onlyFor("--verify", install, texts::OnlyWithInstallation);
  onlyFor("--no-backup", install, texts::OnlyWithInstallation);
  onlyFor("--rollback-on-failure", install, texts::OnlyWithInstallation);
  onlyFor("--backup", install || o.command == "rollback", texts::OnlyWithInstallationOrRollback);
  if (o.rollbackOnFailure && !o.backup) throw UsageError(texts::RollbackOnFailureNeedsBackup());
  if (o.backupId && !IsDigits(*o.backupId)) throw UsageError(texts::NeedsBackupNumber("--backup", *o.backupId));
  if (o.dropId && !IsDigits(*o.dropId)) throw UsageError(texts::NeedsBackupNumber("--drop", *o.dropId));
}

}  // namespace

CliOptions ParseCliOptions(const std::vector<std::string>& args) {
  CliOptions o;
  std::size_t first = 0;
  if (!args.empty() && IsCommand(args[0])) {
    o.command = args[0];
    first = 1;
  }
  for (std::size_t i = first; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (name.rfind("--", 0) == 0) {
      if (const auto eq = name.find('='); eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name = name.substr(0, eq);
      }
    }
    const auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw UsageError(texts::NeedsValue(name));
      return args[++i];
    };
    const auto flag = [&](bool& field) {
      if (inlineValue) throw UsageError(texts::TakesNoValue(name));
      field = true;
    };
    if (name == "--link") {
      const std::string kind = value();
      if (kind == "tcp") {
        o.link = LinkKind::kTcp;
      } else if (kind == "vism") {
#ifndef _WIN32
        throw UsageError(texts::VismOnlyOnWindows());
#endif
        o.link = LinkKind::kVism;
      } else {
        throw UsageError(texts::LinkNeedsKind(kind));
      }
    } else if (name == "--server") {
      o.server = value();
    } else if (name == "--namespace") {
      o.ns = value();
      if (o.ns->empty()) throw UsageError(texts::NeedsName(name));
    } else if (name == "--keep-sources") {
      flag(o.keepSources);
    } else if (name == "--password") {
      o.password = value();
    } else if (name == "--password-file") {
      o.passwordFile = value();
      if (o.passwordFile->empty()) throw UsageError(texts::NeedsFileName(name));
    } else if (name == "--no-restore") {
      flag(o.noRestore);
    } else if (name == "--no-post-actions") {
      flag(o.noPostActions);
    } else if (name == "--soft") {
      flag(o.soft);
    } else if (name == "--no-pre-actions") {
      flag(o.noPreActions);
    } else if (name == "--no-library-test") {
      flag(o.noLibraryTest);
    } else if (name == "--chunk-limit") {
      o.chunkLimit = ParsePositive(name, value());
    } else if (name == "--accept-licence") {
      flag(o.acceptLicence);
    } else if (name == "--answers") {
      o.answersFile = value();
    } else if (name == "--defaults") {
      flag(o.defaults);
    } else if (name == "--quiet") {
      flag(o.quiet);
    } else if (name == "--json") {
      flag(o.json);
    } else if (name == "--if-changed") {
      flag(o.ifChanged);
    } else if (name == "--verify") {
      flag(o.verify);
    } else if (name == "--backup" && o.command == "rollback") {
      o.backupId = value();
    } else if (name == "--backup") {
      flag(o.backup);
    } else if (name == "--no-backup") {
      if (inlineValue) throw UsageError(texts::TakesNoValue(name));
      o.backup = false;
    } else if (name == "--rollback-on-failure") {
      flag(o.rollbackOnFailure);
    } else if (name == "--drop") {
      o.dropId = value();
    } else if (name == "--trusted-key") {
      o.trustedKeyFiles.push_back(value());
      if (o.trustedKeyFiles.back().empty()) throw UsageError(Ru("--trusted-key: нужен файл открытого ключа"));
    } else if (name == "--require-signature") {
      flag(o.requireSignature);
    } else if (name == "--help" || name == "-h") {
      o.help = true;
    } else {
      throw UsageError(texts::UnknownArgument(args[i]));
    }
  }
  if (o.help) return o;
  if (o.soft && o.noPreActions) throw UsageError(texts::ExcludeEachOther("--soft", "--no-pre-actions"));
  if (o.password && o.passwordFile) throw UsageError(texts::ExcludeEachOther("--password", "--password-file"));
  if ((o.password || o.passwordFile) && !o.keepSources) {
    throw UsageError(texts::OnlyWithKeepSources(o.password ? "--password" : "--password-file"));
  }
  if (o.answersFile && o.defaults) throw UsageError(texts::ExcludeEachOther("--answers", "--defaults"));
  CheckCommandOptions(o, args);
  if (o.server) {
    std::string ip, port;
    SplitServer(*o.server, ip, port);
  }
  return o;
}

void SplitServer(const std::string& server, std::string& ip, std::string& port) {
  const auto colon = server.rfind(':');
  ip = server.substr(0, colon);
  port = colon == std::string::npos ? std::string() : server.substr(colon + 1);
  if (ip.empty() || ip.find_first_of(" :") != std::string::npos) {
    throw UsageError(texts::ServerNeedsAddress(server));
  }
  if (colon != std::string::npos) {
    int number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535) {
      throw UsageError(texts::PortOutOfRange(port));
    }
  }
}

std::string UsageText(const std::string& program) { return texts::HelpText(program); }

}  // namespace dorvik::cli
