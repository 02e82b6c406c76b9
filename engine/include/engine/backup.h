// Backup sets of the routines an installation replaces, kept on the server
// in the target namespace, and the rollback that puts them back.
//
// A routine is kept as the globals the server stores it in, copied on the
// server with MERGE (its text never crosses the link): ^ROUTINE(name) the
// source (lines, count, save time), ^rOBJ(name) the object it runs from,
// ^rMAC(name) the macro source (the installation kills it) and ^rINDEX(name)
// the routine directory entry (Caché; absent on other servers, where it
// copies nothing).
//
// Layout, in the namespace's global ^DorvikBackup:
//   ^DorvikBackup                 the last set number given
//   ^DorvikBackup(id)             time _ TAB _ product _ TAB _ version _ TAB
//                                 _ build _ TAB _ namespace (code page 866)
//   ^DorvikBackup(id,"state")     "open" while the set is filled, "ready"
//                                 before the installation, then "installed",
//                                 "failed" or "rolled back"
//   ^DorvikBackup(id,"count"), ^DorvikBackup(id,"existed")
//   ^DorvikBackup(id,"r",name)    1 when the routine existed before, else 0
//   ^DorvikBackup(id,"r",name,g)  the copy of ^g(name), g one of the above
//
// A backup takes one server call per 16000 bytes of routine names (2,000
// routines: one or two calls); plan, verify and rollback one per routine. Every function
// throws ServerCallError when the server refuses a call; a failure of the
// link passes on. Post-actions change application data: a rollback puts
// back routines only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/server_link.h"
#include "distribution/reader.h"
#include "engine/routine_compare.h"

namespace dorvik {

inline constexpr const char* kBackupGlobal = "^DorvikBackup";

struct BackupSetInfo {
  std::string id;
  std::string time;                         // on the server's clock, "YYYY-MM-DD hh:mm:ss"
  std::string product, version, build, ns;  // code page 1251
  std::string state;
  int count = 0;    // routines in the set
  int existed = 0;  // of which were on the server before
};

// Opens a new set for `dist` in the link's current namespace; answers its id.
std::string BeginBackupSet(ServerLink& link, const Distribution& dist);

// The longest list of names sent in one backup call.
inline constexpr std::size_t kBackupBatchBytes = 16000;

// Keeps routines `names` (checked routine names) in set `id`, in one call
// per kBackupBatchBytes of names; a routine already in the set keeps its
// first copy. Answers how many of them existed.
int BackupRoutines(ServerLink& link, const std::string& id, const std::vector<std::string>& names);

// Records the counts and a state ("ready", "installed", "failed").
void SetBackupState(ServerLink& link, const std::string& id, const std::string& state);
void FinishBackupSet(ServerLink& link, const std::string& id, int count, int existed);

// The sets of the link's current namespace, oldest first.
std::vector<BackupSetInfo> ListBackupSets(ServerLink& link);
std::optional<BackupSetInfo> FindBackupSet(ServerLink& link, const std::string& id);

// Removes set `id`; false when there is none.
bool DropBackupSet(ServerLink& link, const std::string& id);

// Puts every routine of set `id` back as the set recorded it: the routines
// that existed get their stored globals back, the others are removed.
// `progress` is called with each routine's name after it is done. The
// entries of the installed-distributions record taken with this set are
// marked rolled back (install_record.h). Answers the number of routines put
// back.
int RollBack(ServerLink& link, const std::string& id, const std::function<void(const std::string&)>& progress = {});

// A set id as typed: digits only.
bool IsBackupId(const std::string& id);

}  // namespace dorvik
