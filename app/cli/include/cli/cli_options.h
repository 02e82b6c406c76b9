// The options of the command-line installer, as typed (locale encoding).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace dorvik::cli {

// The server link: the VisM control (Windows only, the default there) or
// the project's own TCP link to mserver (the default elsewhere).
enum class LinkKind { kVism, kTcp };

#ifdef _WIN32
constexpr LinkKind kDefaultLink = LinkKind::kVism;
#else
constexpr LinkKind kDefaultLink = LinkKind::kTcp;
#endif

struct CliOptions {
  LinkKind link = kDefaultLink;
  std::optional<std::string> server;  // "IP" or "IP:PORT"
  std::optional<std::string> ns;
  bool keepSources = false;
  std::optional<std::string> password;      // visible to other users: for scripts only
  std::optional<std::string> passwordFile;  // its first line is the password
  bool noRestore = false;
  bool noPostActions = false;
  bool soft = false;
  bool noPreActions = false;
  bool noLibraryTest = false;
  std::optional<int> chunkLimit;  // as given; the installer caps it
  bool acceptLicence = false;
  std::optional<std::string> answersFile;
  bool defaults = false;
  bool quiet = false;
  bool help = false;
  std::vector<std::string> trustedKeyFiles;  // --trusted-key FILE, repeatable
  bool requireSignature = false;

  // The command: empty for an installation, else "plan", "verify",
  // "rollback", "backups" or "history" (only as the first argument).
  std::string command;
  bool json = false;                    // one JSON document on standard output
  bool ifChanged = false;               // installation: only when not installed already
  bool verify = false;                  // installation: verify at the end
  bool backup = true;                   // installation: keep the replaced routines
  bool rollbackOnFailure = false;       // installation: roll back when it fails
  std::optional<std::string> backupId;  // rollback --backup ID
  std::optional<std::string> dropId;    // backups --drop ID
};

// A command line the installer cannot run with; the message says why (code
// page 1251).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name.
CliOptions ParseCliOptions(const std::vector<std::string>& args);

// The text of --help (code page 1251).
std::string UsageText(const std::string& program);

// "IP" or "IP:PORT" split; the port is empty when not given. Throws
// UsageError for an empty address or a port that is not 1..65535.
void SplitServer(const std::string& server, std::string& ip, std::string& port);

}  // namespace dorvik::cli
