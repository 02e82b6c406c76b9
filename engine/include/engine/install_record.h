// The record of installed distributions, kept on the server in the target
// namespace: every installation that succeeds adds an entry, so that a later
// run (or an admin) can tell which distribution the namespace holds.
//
// Layout, in the namespace's global ^DorvikInstalled:
//   ^DorvikInstalled              the last entry number given
//   ^DorvikInstalled(n)           time _ TAB _ product _ TAB _ version _ TAB
//                                 _ build _ TAB _ digest _ TAB _ namespace
//                                 (texts in code page 866; the time on the
//                                 server's clock, "YYYY-MM-DD hh:mm:ss")
//   ^DorvikInstalled(n,"options") the installation's options, words joined
//                                 by "," (see OptionWords)
//   ^DorvikInstalled(n,"backup")  the backup set kept before it, "" without
//   ^DorvikInstalled(n,"state")   "installed", or "rolled back" once its
//                                 backup set has been rolled back
//
// The digest is the SHA-256 of the whole data file (dorpack.dat): two
// distributions with the same digest are the same bytes. Recording takes one
// server call, listing one per entry. Every function throws ServerCallError
// when the server refuses a call; a failure of the link passes on.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/server_link.h"
#include "core/session.h"

namespace dorvik {

inline constexpr const char* kInstallRecordGlobal = "^DorvikInstalled";

struct InstalledDistribution {
  std::string id;
  std::string time;                         // on the server's clock
  std::string product, version, build, ns;  // code page 1251
  std::string digest;                       // 64 lower-case hexadecimal digits
  std::string options;                      // OptionWords
  std::string backup;                       // the backup set's number, "" without one
  std::string state;                        // "installed" or "rolled back"

  bool RolledBack() const { return state == "rolled back"; }
};

// The SHA-256 of the data file as 64 lower-case hexadecimal digits. Throws
// std::system_error when the file cannot be read.
std::string DistributionDigest(const std::filesystem::path& dataFile);

// The options as stored: "pre-actions" or "no-pre-actions", "hard" or "soft",
// "restore" or "no-restore", "post-actions" or "no-post-actions",
// "keep-sources" or "remove-sources", joined by ",".
std::string OptionWords(const InstallOptions& options);

// Adds an entry for the distribution of the session installed into the
// link's current namespace; answers its number.
std::string RecordInstallation(ServerLink& link, const Distribution& dist, const std::string& digest,
                               const InstallOptions& options, const std::string& backupId);

// Every entry of the link's current namespace, oldest first.
std::vector<InstalledDistribution> ListInstallations(ServerLink& link);

// The newest entry that was not rolled back: the distribution the namespace
// holds now, as far as the record knows. Nothing when there is none.
std::optional<InstalledDistribution> CurrentInstallation(const std::vector<InstalledDistribution>& entries);

// Marks every entry whose backup set is `backupId` as rolled back (one call).
void MarkInstallationsRolledBack(ServerLink& link, const std::string& backupId);

}  // namespace dorvik
