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
// A routine's copy is whole or absent: its copies and then its record are
// written in one transaction, so a server or client that stops at any
// moment leaves either both or neither (and, should the transaction not be
// undone, copies without a record, which count as absent). A set is
// complete only once the server has found a record for every routine it was
// to copy and the set says so; until then it is interrupted.
//
// Layout, in the namespace's global ^DorvikBackup:
//   ^DorvikBackup                 the last set number given
//   ^DorvikBackup(id)             time _ TAB _ product _ TAB _ version _ TAB
//                                 _ build _ TAB _ namespace (code page 866)
//   ^DorvikBackup(id,"state")     "open" while the set is filled, "ready"
//                                 before the installation, then "installed",
//                                 "failed" or "rolled back"
//   ^DorvikBackup(id,"count"), ^DorvikBackup(id,"existed")   (complete sets)
//   ^DorvikBackup(id,"r",name)    1 when the routine existed before, else 0;
//                                 written last, with the copies
//   ^DorvikBackup(id,"r",name,g)  the copy of ^g(name), g one of the above
// Added by this version; a set without them was written by an earlier one:
//   ^DorvikBackup(id,"format")    2: records are written as said above
//   ^DorvikBackup(id,"planned")   how many routines the set is to copy
//   ^DorvikBackup(id,"p",name)    a routine the set is to copy
//   ^DorvikBackup(id,"complete")  1 once every routine has its whole copy
// An earlier version wrote a routine's record before its copies: its sets
// count as complete once they left "open", and in an open one only the
// records of routines that did not exist (nothing to copy) are trusted.
//
// A backup takes one server call to open the set, two per 16000 bytes of
// routine names (2,000 routines: two to four) and two to close it; a
// rollback one per routine. Every function throws ServerCallError when the
// server refuses a call; a failure of the link passes on. Post-actions
// change application data: a rollback puts back routines only.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
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
  bool complete = false;  // every routine's copy is whole, and the set says so
  int count = 0;          // routines in the set (complete sets)
  int existed = 0;        // of which were on the server before
  int planned = 0;        // routines the set was to copy; 0 when an earlier version made it
  int copied = 0;         // routines whose copy is whole (interrupted sets)
  int copiedExisted = 0;  // of which existed before
};

// The set failed its closing check: some routine has no whole copy.
class IncompleteBackupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Opens a new set for `dist` in the link's current namespace, to copy
// `planned` routines; answers its id.
std::string BeginBackupSet(ServerLink& link, const Distribution& dist, std::size_t planned);

// The longest list of names sent in one backup call.
inline constexpr std::size_t kBackupBatchBytes = 16000;

// Keeps routines `names` (checked routine names) in set `id`: first notes
// them all in the set, then copies them, in one call per kBackupBatchBytes
// of names each; a routine already in the set keeps its first copy.
// Answers how many of them existed.
int BackupRoutines(ServerLink& link, const std::string& id, const std::vector<std::string>& names);

struct BackupCounts {
  int count = 0;    // routines in the set
  int existed = 0;  // of which existed
};

// Closes set `id` once the server finds a whole copy of every routine noted
// in it: records the counts and the state "ready". Throws
// IncompleteBackupError when a copy is missing.
BackupCounts FinishBackupSet(ServerLink& link, const std::string& id);

// Records a state ("installed", "failed").
void SetBackupState(ServerLink& link, const std::string& id, const std::string& state);

// The sets of the link's current namespace, oldest first.
std::vector<BackupSetInfo> ListBackupSets(ServerLink& link);
std::optional<BackupSetInfo> FindBackupSet(ServerLink& link, const std::string& id);

// The set a rollback takes when none is named: the newest complete one.
std::optional<BackupSetInfo> NewestCompleteSet(const std::vector<BackupSetInfo>& sets);

// Removes set `id`; false when there is none.
bool DropBackupSet(ServerLink& link, const std::string& id);

// What a rollback did, routine by routine.
struct RollbackResult {
  std::vector<std::string> restored;  // existed before: their copies are back
  std::vector<std::string> removed;   // new with the installation: removed
  std::vector<std::string> absent;    // new with the installation and not there: nothing to do
  std::vector<std::string> skipped;   // no whole copy: left as they are
  int Done() const { return static_cast<int>(restored.size() + removed.size() + absent.size()); }
};

// Puts back every routine of set `id` whose copy is whole: the routines
// that existed get their stored globals back (each in one transaction), the
// others are removed; the routines without a whole copy are left alone and
// listed. `progress` is called with each routine's name after it is done.
// A complete set is then marked "rolled back", and so are the entries of the
// installed-distributions record taken with it (install_record.h); an
// interrupted one keeps its state.
RollbackResult RollBack(ServerLink& link, const std::string& id,
                        const std::function<void(const std::string&)>& progress = {});

// A set id as typed: digits only.
bool IsBackupId(const std::string& id);

}  // namespace dorvik
