#include "cli/cli_options.h"

#include <algorithm>
#include <charconv>

namespace dorvik::cli {

namespace {

bool IsDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

int ParsePositive(const std::string& option, const std::string& text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1) {
    throw UsageError(option + " needs a whole number above 0, not \"" + text + "\"");
  }
  return value;
}

bool IsCommand(const std::string& word) {
  return word == "plan" || word == "verify" || word == "rollback" || word == "backups";
}

// The options that belong to one command only.
void CheckCommandOptions(const CliOptions& o, const std::vector<std::string>& args) {
  const bool install = o.command.empty();
  const auto given = [&](const char* option) {
    return std::any_of(args.begin(), args.end(),
                       [&](const std::string& a) { return a == option || a.rfind(std::string(option) + "=", 0) == 0; });
  };
  const auto onlyFor = [&](const char* option, bool allowed, const char* where) {
    if (given(option) && !allowed) throw UsageError(std::string(option) + " is only used " + where);
  };
  onlyFor("--json", o.command == "plan", "with plan");
  onlyFor("--drop", o.command == "backups", "with backups");
  onlyFor("--verify", install, "with an installation");
  onlyFor("--no-backup", install, "with an installation");
  onlyFor("--rollback-on-failure", install, "with an installation");
  onlyFor("--backup", install || o.command == "rollback", "with an installation or rollback");
  if (o.rollbackOnFailure && !o.backup) throw UsageError("--rollback-on-failure needs the backup: drop --no-backup");
  if (o.backupId && !IsDigits(*o.backupId))
    throw UsageError("--backup needs a backup number, not \"" + *o.backupId + "\"");
  if (o.dropId && !IsDigits(*o.dropId)) throw UsageError("--drop needs a backup number, not \"" + *o.dropId + "\"");
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
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      return args[++i];
    };
    const auto flag = [&](bool& field) {
      if (inlineValue) throw UsageError(name + " takes no value");
      field = true;
    };
    if (name == "--link") {
      const std::string kind = value();
      if (kind == "tcp") {
        o.link = LinkKind::kTcp;
      } else if (kind == "vism") {
#ifndef _WIN32
        throw UsageError("--link vism: the VisM control exists only on Windows");
#endif
        o.link = LinkKind::kVism;
      } else {
        throw UsageError("--link needs vism or tcp, not \"" + kind + "\"");
      }
    } else if (name == "--server") {
      o.server = value();
    } else if (name == "--namespace") {
      o.ns = value();
      if (o.ns->empty()) throw UsageError("--namespace needs a name");
    } else if (name == "--keep-sources") {
      flag(o.keepSources);
    } else if (name == "--password") {
      o.password = value();
    } else if (name == "--password-file") {
      o.passwordFile = value();
      if (o.passwordFile->empty()) throw UsageError("--password-file needs a file name");
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
    } else if (name == "--verify") {
      flag(o.verify);
    } else if (name == "--backup" && o.command == "rollback") {
      o.backupId = value();
    } else if (name == "--backup") {
      flag(o.backup);
    } else if (name == "--no-backup") {
      if (inlineValue) throw UsageError(name + " takes no value");
      o.backup = false;
    } else if (name == "--rollback-on-failure") {
      flag(o.rollbackOnFailure);
    } else if (name == "--drop") {
      o.dropId = value();
    } else if (name == "--trusted-key") {
      o.trustedKeyFiles.push_back(value());
      if (o.trustedKeyFiles.back().empty()) throw UsageError("--trusted-key needs a public key file");
    } else if (name == "--require-signature") {
      flag(o.requireSignature);
    } else if (name == "--help" || name == "-h") {
      o.help = true;
    } else {
      throw UsageError("unknown argument \"" + args[i] + "\"");
    }
  }
  if (o.help) return o;
  if (o.soft && o.noPreActions) throw UsageError("--soft and --no-pre-actions exclude each other");
  if (o.password && o.passwordFile) throw UsageError("--password and --password-file exclude each other");
  if ((o.password || o.passwordFile) && !o.keepSources) {
    throw UsageError(std::string(o.password ? "--password" : "--password-file") + " is only used with --keep-sources");
  }
  if (o.answersFile && o.defaults) throw UsageError("--answers and --defaults exclude each other");
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
    throw UsageError("--server needs IP or IP:PORT, not \"" + server + "\"");
  }
  if (colon != std::string::npos) {
    int number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535) {
      throw UsageError("--server: the port must be a number from 1 to 65535, not \"" + port + "\"");
    }
  }
}

std::string UsageText(const std::string& program) {
  return "Usage: " + program + R"( [OPTION]...
       )" +
         program + R"( plan [--json] [OPTION]...
       )" +
         program + R"( verify [OPTION]...
       )" +
         program + R"( rollback [--backup ID] [OPTION]...
       )" +
         program + R"( backups [--drop ID] [OPTION]...
Installs the distribution in the current folder (dorpack.dat) into a server
namespace without the wizard, and writes the install log (dorvik.txt).

Commands (they connect as an installation does and write no install log):
  plan                  show what an installation would do, changing nothing:
                        each routine new, unchanged, changed (lines added and
                        removed) or present without source; the check label
                        and routines; the post-actions; totals
  verify                check that every routine of the distribution is on the
                        server and equals the distribution's text; a routine
                        whose source was removed is only checked to exist and
                        load. Exit 0 when all match, 1 otherwise
  rollback              put the namespace's routines back as the newest backup
                        set (or set ID) recorded them: replaced routines get
                        their previous form, new ones are removed
  backups               list the backup sets of the namespace; --drop ID
                        removes one
Post-actions change application data: a rollback does not undo them.

Options:
  --link vism|tcp       the path to the server: the Cache client's VisM control
                        (Windows only, and the default there) or the TCP link
                        to mserver (the default elsewhere)
  --server IP[:PORT]    the server (default: the saved settings, else 127.0.0.1:1972)
  --namespace NS        the target namespace (default: the saved one if the server
                        lists it, else the first listed; a library distribution
                        always goes to the library namespace)
  --keep-sources        keep the routines' source texts; needs the distribution's
                        source password: from --password-file, else asked on the
                        terminal (not shown while typed)
  --password-file FILE  read the source password from the first line of FILE
  --password P          the source password on the command line, for scripts
                        only: other users of the machine can see it (ps, /proc)
  --no-restore          do not restore the routines
  --no-post-actions     do not run the post-actions
  --soft                soft pre-action mode: a failed pre-action asks whether to stop
  --no-pre-actions      do not call the check label
  --no-library-test     do not test for library routines
  --chunk-limit N       longest text sent per server call (at most 32700)
  --accept-licence      accept licence.txt without showing it
  --answers FILE        answers to the post-actions' questions, one per line, in
                        order ("1"/"2" or Да/Нет for yes/no questions)
  --defaults            answer every question with its default
  --quiet               no progress output
  --backup              (default) before the installation, keep every routine
                        of the distribution that already exists in the
                        namespace in a backup set on the server (^DorvikBackup)
  --no-backup           keep no backup set
  --rollback-on-failure when the installation fails, roll back its routines
                        (the exit status stays 1)
  --verify              verify the routines after a successful installation
  --json                plan: print one JSON document (UTF-8)
  --trusted-key FILE    trust the publisher's public key in FILE (minisign's
                        format; repeatable). With a trusted key, a distribution
                        that is unsigned, signed by another key or changed
                        since it was signed is refused before anything is sent
                        to the server (exit 4)
  --require-signature   refuse unsigned distributions even without a trusted key
  --help                show this text

Questions are asked on the terminal; without one, and without --answers, the
default answer is taken and logged. Ctrl-C during the check or the restore
asks whether to stop the installation (stops it without a terminal); pressed
three times in a row it ends the program at once.

Exit status: 0 installed; 1 the installation failed (or, with verify, a
routine does not match; with rollback and backups, the set is missing or the
server refused); 2 usage error, licence not accepted or wrong password; 3 no
connection to the server or no namespace; 4 the distribution cannot be read;
5 the VisM control (the Cache client) is not registered.
)";
}

}  // namespace dorvik::cli
