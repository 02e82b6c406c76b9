#include "engine/backup.h"

#include <charconv>
#include <stdexcept>

#include "distribution/funcs.h"
#include "engine/install_record.h"

namespace dorvik {

namespace {

// The globals a server keeps per routine, copied and restored together.
const char* const kRoutineGlobals[] = {"ROUTINE", "rOBJ", "rMAC", "rINDEX"};

// P1 = product _ TAB _ version _ TAB _ build (code page 866); answers the id in P1.
const std::string kBeginLine =
    "s P1=$I(^DorvikBackup),^DorvikBackup(P1)=$ZDT($H,3)_$C(9)_P2_$C(9)_$ZNSPACE,^DorvikBackup(P1,\"state\")=\"open\"";

// P1 = routine names joined by ",", P2 = set id; answers in P1 how many of
// them existed. A routine already in the set keeps its first copy.
std::string BackupLine() {
  std::string merges;
  for (const char* g : kRoutineGlobals) {
    merges += merges.empty() ? " m " : ",";
    merges += "^DorvikBackup(P2,\"r\",%dvN,\"" + std::string(g) + "\")=^" + g + "(%dvN)";
  }
  return "s %dvL=P1,P1=0 f %dvI=1:1:$L(%dvL,\",\") s %dvN=$P(%dvL,\",\",%dvI),%dvX=$D(^rOBJ(%dvN))!$D(^ROUTINE(%dvN)),"
         "P1=P1+%dvX i '$D(^DorvikBackup(P2,\"r\",%dvN)) s ^DorvikBackup(P2,\"r\",%dvN)=%dvX" +
         merges;
}

// P1 = the previous routine name ("" at the start), P2 = set id; puts the
// next routine back and answers its name in P1 ("" when none is left).
std::string RollbackLine() {
  std::string kills, merges;
  for (const char* g : kRoutineGlobals) {
    kills += kills.empty() ? " k " : ",";
    kills += "^" + std::string(g) + "(%dvN)";
    merges += merges.empty() ? " m " : ",";
    merges += "^" + std::string(g) + "(%dvN)=^DorvikBackup(P2,\"r\",%dvN,\"" + g + "\")";
  }
  return "s %dvN=$O(^DorvikBackup(P2,\"r\",P1)),P1=%dvN i %dvN'=\"\"" + kills + merges;
}

// P1 = set id; answers in P2 the set's fields joined by TAB, or "" without it.
const std::string kInfoLine =
    "s P2=$S($D(^DorvikBackup(P1))#2:^DorvikBackup(P1)_$C(9)_$G(^DorvikBackup(P1,\"state\"))_$C(9)_$G(^DorvikBackup("
    "P1,\"count\"))_$C(9)_$G(^DorvikBackup(P1,\"existed\")),1:\"\")";

int ToInt(const std::string& text) {
  int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::optional<BackupSetInfo> ReadInfo(ServerLink& link, const std::string& id) {
  link.SetParam(1, id);
  RunServerLine(link, kInfoLine);
  const std::string fields = link.GetParam(2);
  if (fields.empty()) return std::nullopt;
  BackupSetInfo info;
  info.id = id;
  info.time = Piece(fields, '\t', 1);
  info.product = Cp866ToCp1251(Piece(fields, '\t', 2));
  info.version = Cp866ToCp1251(Piece(fields, '\t', 3));
  info.build = Cp866ToCp1251(Piece(fields, '\t', 4));
  info.ns = Piece(fields, '\t', 5);
  info.state = Piece(fields, '\t', 6);
  info.count = ToInt(Piece(fields, '\t', 7));
  info.existed = ToInt(Piece(fields, '\t', 8));
  return info;
}

}  // namespace

bool IsBackupId(const std::string& id) {
  return !id.empty() && id.size() <= 18 && id.find_first_not_of("0123456789") == std::string::npos && id[0] != '0';
}

std::string BeginBackupSet(ServerLink& link, const Distribution& dist) {
  link.SetParam(
      2, Cp1251ToCp866(dist.ProductName) + "\t" + Cp1251ToCp866(dist.Version) + "\t" + Cp1251ToCp866(dist.BuildDate));
  RunServerLine(link, kBeginLine);
  const std::string id = link.GetParam(1);
  if (!IsBackupId(id)) throw ServerCallError("the server gave no backup set number (\"" + id + "\")");
  return id;
}

int BackupRoutines(ServerLink& link, const std::string& id, const std::vector<std::string>& names) {
  static const std::string line = BackupLine();
  int existed = 0;
  std::size_t next = 0;
  while (next < names.size()) {
    std::string batch;
    do {
      if (names[next].empty() || names[next].find(',') != std::string::npos) {
        throw std::invalid_argument("\"" + names[next] + "\" is not a routine name");
      }
      batch += (batch.empty() ? "" : ",") + names[next++];
    } while (next < names.size() && batch.size() + 1 + names[next].size() <= kBackupBatchBytes);
    link.SetParam(1, batch);
    link.SetParam(2, id);
    RunServerLine(link, line);
    existed += ToInt(link.GetParam(1));
  }
  return existed;
}

void SetBackupState(ServerLink& link, const std::string& id, const std::string& state) {
  link.SetParam(1, id);
  link.SetParam(2, state);
  RunServerLine(link, "s:$D(^DorvikBackup(P1))#2 ^DorvikBackup(P1,\"state\")=P2");
}

void FinishBackupSet(ServerLink& link, const std::string& id, int count, int existed) {
  link.SetParam(1, id);
  link.SetParam(2, std::to_string(count) + "," + std::to_string(existed));
  RunServerLine(link,
                "s ^DorvikBackup(P1,\"count\")=+P2,^DorvikBackup(P1,\"existed\")=$P(P2,\",\",2),"
                "^DorvikBackup(P1,\"state\")=\"ready\"");
}

std::vector<BackupSetInfo> ListBackupSets(ServerLink& link) {
  std::vector<BackupSetInfo> sets;
  std::string id;
  for (;;) {
    link.SetParam(1, id);
    RunServerLine(link, "s P1=$O(^DorvikBackup(P1))");
    id = link.GetParam(1);
    if (id.empty()) break;
    if (!IsBackupId(id)) continue;  // not one of ours
    if (auto info = ReadInfo(link, id)) sets.push_back(std::move(*info));
  }
  return sets;
}

std::optional<BackupSetInfo> FindBackupSet(ServerLink& link, const std::string& id) {
  if (!IsBackupId(id)) return std::nullopt;
  return ReadInfo(link, id);
}

bool DropBackupSet(ServerLink& link, const std::string& id) {
  if (!IsBackupId(id)) return false;
  link.SetParam(1, id);
  RunServerLine(link, "s P2=$D(^DorvikBackup(P1))#2 k ^DorvikBackup(P1)");
  return link.GetParam(2) == "1";
}

int RollBack(ServerLink& link, const std::string& id, const std::function<void(const std::string&)>& progress) {
  static const std::string line = RollbackLine();
  int done = 0;
  std::string name;
  for (;;) {
    link.SetParam(1, name);
    link.SetParam(2, id);
    RunServerLine(link, line);
    name = link.GetParam(1);
    if (name.empty()) break;
    ++done;
    if (progress) progress(name);
  }
  SetBackupState(link, id, "rolled back");
  // The installation this set was taken for is no longer what the namespace holds.
  MarkInstallationsRolledBack(link, id);
  return done;
}

}  // namespace dorvik
