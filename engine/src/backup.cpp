#include "engine/backup.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "engine/install_record.h"

namespace dorvik {

namespace {

// The globals a server keeps per routine, copied and restored together.
const char* const kRoutineGlobals[] = {"ROUTINE", "rOBJ", "rMAC", "rINDEX"};

// The format this version writes: a routine's record last, with its copies.
constexpr int kFormat = 2;

// The texts of the failures said to the user (code page 1251 source).
std::string NoSetNumberText(const std::string& answer) {
  return Ru("сервер не выдал номер резервной копии (\"") + answer + "\")";
}
std::string NotRoutineNameText(const std::string& name) { return "\"" + name + Ru("\" не является именем программы"); }
std::string IncompleteText(int missing, int planned) {
  return Ru("копия неполна: нет копии у ") + std::to_string(missing) + Ru(" программ из ") + std::to_string(planned);
}

// P1 = how many routines the set is to copy, P2 = product _ TAB _ version
// _ TAB _ build (code page 866); answers the id in P1.
const std::string kBeginLine =
    "TSTART  s %dvC=P1,P1=$I(^DorvikBackup),^DorvikBackup(P1)=$ZDT($H,3)_$C(9)_P2_$C(9)_$ZNSPACE,"
    "^DorvikBackup(P1,\"state\")=\"open\",^DorvikBackup(P1,\"format\")=" +
    std::to_string(kFormat) + ",^DorvikBackup(P1,\"planned\")=+%dvC TCOMMIT";

// P1 = routine names joined by ",", P2 = set id: notes them in the set.
const std::string kNoteLine = "s %dvL=P1 f %dvI=1:1:$L(%dvL,\",\") s ^DorvikBackup(P2,\"p\",$P(%dvL,\",\",%dvI))=\"\"";

// Whether a routine was there: any of its globals.
std::string ExistsExpression() {
  std::string test;
  for (const char* g : kRoutineGlobals) test += std::string(test.empty() ? "" : "!") + "$D(^" + g + "(%dvN))";
  return test;
}

// P1 = routine names joined by ",", P2 = set id; answers in P1 how many of
// them existed. A routine without a record gets its copies and then its
// record in one transaction; one with a record keeps its first copy.
std::string BackupLine() {
  std::string merges;
  for (const char* g : kRoutineGlobals) {
    merges += merges.empty() ? " m:'%dvH " : ",";
    merges += "^DorvikBackup(P2,\"r\",%dvN,\"" + std::string(g) + "\")=^" + g + "(%dvN)";
  }
  return "s %dvL=P1,P1=0 f %dvI=1:1:$L(%dvL,\",\") s %dvN=$P(%dvL,\",\",%dvI),%dvH=$D(^DorvikBackup(P2,\"r\",%dvN))#2"
         " TSTART:'%dvH  k:'%dvH ^DorvikBackup(P2,\"r\",%dvN)" +
         merges + " s:'%dvH ^DorvikBackup(P2,\"r\",%dvN)=" + ExistsExpression() +
         " TCOMMIT:'%dvH  s P1=P1+^DorvikBackup(P2,\"r\",%dvN)";
}

// P1 = set id; answers in P1 "noted,existed,missing": the routines noted in
// the set, how many of them existed, how many have no record; in P2 how
// many the set was to copy.
const std::string kCheckLine =
    "s %dvS=P1,P2=$G(^DorvikBackup(%dvS,\"planned\")),P1=\"0,0,0\",%dvC=0,%dvE=0,%dvM=0,%dvN=\"\" f  s "
    "%dvN=$O(^DorvikBackup(%dvS,\"p\",%dvN)) q:%dvN=\"\"  "
    "s %dvC=%dvC+1 s:'($D(^DorvikBackup(%dvS,\"r\",%dvN))#2) %dvM=%dvM+1 "
    "s:'%dvM %dvE=%dvE+^DorvikBackup(%dvS,\"r\",%dvN) s P1=%dvC_\",\"_%dvE_\",\"_%dvM";

// P1 = set id, P2 = "count,existed": closes the set as complete.
const std::string kCloseLine =
    "TSTART  s ^DorvikBackup(P1,\"count\")=+P2,^DorvikBackup(P1,\"existed\")=+$P(P2,\",\",2),"
    "^DorvikBackup(P1,\"complete\")=1,^DorvikBackup(P1,\"state\")=\"ready\" TCOMMIT";

// Sets %dvT: whether the records of set %dvS can be trusted to mean a whole
// copy (sets of this version, and complete sets of an earlier one).
const std::string kTrust = "%dvT=$G(^DorvikBackup(%dvS,\"format\"))>1!($G(^DorvikBackup(%dvS,\"state\"))'=\"open\")";
// Whether routine %dvN of set %dvS has a whole copy.
const std::string kWhole = "$D(^DorvikBackup(%dvS,\"r\",%dvN))#2&(%dvT!'$G(^DorvikBackup(%dvS,\"r\",%dvN)))";

// P1 = the previous routine name ("" at the start), P2 = set id; puts the
// next routine back, in one transaction, and answers its name in P1 (""
// when none is left) and in P2 what was done: R restored, D removed, A new
// and absent, S skipped (no whole copy).
std::string RollbackLine() {
  std::string kills, merges;
  for (const char* g : kRoutineGlobals) {
    kills += kills.empty() ? " k " : ",";
    kills += "^" + std::string(g) + "(%dvN)";
    merges += merges.empty() ? " m:P2=\"R\" " : ",";
    merges += "^" + std::string(g) + "(%dvN)=^DorvikBackup(%dvS,\"r\",%dvN,\"" + g + "\")";
  }
  return "s %dvS=P2,P2=\"\"," + kTrust +
         ",%dvN=$O(^DorvikBackup(%dvS,\"r\",P1)),P1=%dvN i %dvN'=\"\" s %dvW=" + kWhole +
         ",P2=$S('%dvW:\"S\",^DorvikBackup(%dvS,\"r\",%dvN):\"R\"," + ExistsExpression() +
         ":\"D\",1:\"A\") i %dvW TSTART " + kills + merges + " TCOMMIT";
}

// P1 = set id; answers in P2 the routines noted in the set that have no
// record, each after a ",".
const std::string kUncopiedLine =
    "s %dvS=P1,P2=\"\",%dvN=\"\" f  s %dvN=$O(^DorvikBackup(%dvS,\"p\",%dvN)) q:%dvN=\"\"  "
    "s:'$D(^DorvikBackup(%dvS,\"r\",%dvN)) P2=P2_\",\"_%dvN";

// P1 = set id; answers in P2 the set's fields joined by TAB, or "" without it.
const std::string kInfoLine =
    "s %dvS=P1,P2=$S($D(^DorvikBackup(%dvS))#2:^DorvikBackup(%dvS)_$C(9)_$G(^DorvikBackup(%dvS,\"state\"))_$C(9)_"
    "$G(^DorvikBackup(%dvS,\"count\"))_$C(9)_$G(^DorvikBackup(%dvS,\"existed\"))_$C(9)_"
    "$G(^DorvikBackup(%dvS,\"format\"))_$C(9)_$G(^DorvikBackup(%dvS,\"complete\"))_$C(9)_"
    "$G(^DorvikBackup(%dvS,\"planned\")),1:\"\")";

// P1 = set id; answers in P2 "whole,existed" over the set's routines.
const std::string kCopiedLine = "s %dvS=P1,P2=\"0,0\",%dvC=0,%dvE=0," + kTrust +
                                ",%dvN=\"\" f  s %dvN=$O(^DorvikBackup(%dvS,\"r\",%dvN)) q:%dvN=\"\"  i " + kWhole +
                                " s %dvC=%dvC+1,%dvE=%dvE+^DorvikBackup(%dvS,\"r\",%dvN),P2=%dvC_\",\"_%dvE";

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
  const bool earlierFormat = ToInt(Piece(fields, '\t', 9)) < kFormat;
  info.complete = earlierFormat ? info.state != "open" : Piece(fields, '\t', 10) == "1";
  info.planned = ToInt(Piece(fields, '\t', 11));
  if (info.complete) {
    info.copied = info.count;
    info.copiedExisted = info.existed;
  } else {
    link.SetParam(1, id);
    RunServerLine(link, kCopiedLine);
    const std::string copied = link.GetParam(2);
    info.copied = ToInt(Piece(copied, ',', 1));
    info.copiedExisted = ToInt(Piece(copied, ',', 2));
  }
  return info;
}

// Sends `names` in batches of at most kBackupBatchBytes, running `line` with
// P1 = the batch, P2 = `id`; `answer` takes each call's P1.
void InBatches(ServerLink& link, const std::string& id, const std::vector<std::string>& names, const std::string& line,
               const std::function<void(const std::string&)>& answer) {
  std::size_t next = 0;
  while (next < names.size()) {
    std::string batch;
    do {
      if (names[next].empty() || names[next].find(',') != std::string::npos) {
        throw std::invalid_argument(NotRoutineNameText(names[next]));
      }
      batch += (batch.empty() ? "" : ",") + names[next++];
    } while (next < names.size() && batch.size() + 1 + names[next].size() <= kBackupBatchBytes);
    link.SetParam(1, batch);
    link.SetParam(2, id);
    RunServerLine(link, line);
    answer(link.GetParam(1));
  }
}

std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> names;
  for (int i = 2; i <= CountChar(list, ',') + 1; ++i) names.push_back(Piece(list, ',', i));
  return names;
}

}  // namespace

bool IsBackupId(const std::string& id) {
  return !id.empty() && id.size() <= 18 && id.find_first_not_of("0123456789") == std::string::npos && id[0] != '0';
}

std::string BeginBackupSet(ServerLink& link, const Distribution& dist, std::size_t planned) {
  link.SetParam(1, std::to_string(planned));
  link.SetParam(
      2, Cp1251ToCp866(dist.ProductName) + "\t" + Cp1251ToCp866(dist.Version) + "\t" + Cp1251ToCp866(dist.BuildDate));
  RunServerLine(link, kBeginLine);
  const std::string id = link.GetParam(1);
  if (!IsBackupId(id)) throw ServerCallError(NoSetNumberText(id));
  return id;
}

int BackupRoutines(ServerLink& link, const std::string& id, const std::vector<std::string>& names) {
  static const std::string line = BackupLine();
  InBatches(link, id, names, kNoteLine, [](const std::string&) {});
  int existed = 0;
  InBatches(link, id, names, line, [&](const std::string& answer) { existed += ToInt(answer); });
  return existed;
}

BackupCounts FinishBackupSet(ServerLink& link, const std::string& id) {
  link.SetParam(1, id);
  RunServerLine(link, kCheckLine);
  const std::string counts = link.GetParam(1);
  BackupCounts result;
  result.count = ToInt(Piece(counts, ',', 1));
  result.existed = ToInt(Piece(counts, ',', 2));
  // Routines never noted (the set was to copy more) count as missing too.
  const int planned = std::max(ToInt(link.GetParam(2)), result.count);
  const int missing = ToInt(Piece(counts, ',', 3)) + planned - result.count;
  if (missing != 0) throw IncompleteBackupError(IncompleteText(missing, planned));
  link.SetParam(1, id);
  link.SetParam(2, std::to_string(result.count) + "," + std::to_string(result.existed));
  RunServerLine(link, kCloseLine);
  return result;
}

void SetBackupState(ServerLink& link, const std::string& id, const std::string& state) {
  link.SetParam(1, id);
  link.SetParam(2, state);
  RunServerLine(link, "s:$D(^DorvikBackup(P1))#2 ^DorvikBackup(P1,\"state\")=P2");
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

std::optional<BackupSetInfo> NewestCompleteSet(const std::vector<BackupSetInfo>& sets) {
  for (auto it = sets.rbegin(); it != sets.rend(); ++it) {
    if (it->complete) return *it;
  }
  return std::nullopt;
}

bool DropBackupSet(ServerLink& link, const std::string& id) {
  if (!IsBackupId(id)) return false;
  link.SetParam(1, id);
  RunServerLine(link, "s P2=$D(^DorvikBackup(P1))#2 k ^DorvikBackup(P1)");
  return link.GetParam(2) == "1";
}

RollbackResult RollBack(ServerLink& link, const std::string& id,
                        const std::function<void(const std::string&)>& progress) {
  static const std::string line = RollbackLine();
  const std::optional<BackupSetInfo> set = FindBackupSet(link, id);
  RollbackResult result;
  if (!set) return result;
  std::string name;
  for (;;) {
    link.SetParam(1, name);
    link.SetParam(2, id);
    RunServerLine(link, line);
    name = link.GetParam(1);
    if (name.empty()) break;
    const std::string done = link.GetParam(2);
    if (done == "R") {
      result.restored.push_back(name);
    } else if (done == "D") {
      result.removed.push_back(name);
    } else if (done == "A") {
      result.absent.push_back(name);
    } else {
      result.skipped.push_back(name);
    }
    if (progress) progress(name);
  }
  if (set->complete) {
    SetBackupState(link, id, "rolled back");
    // The installation this set was taken for is no longer what the namespace holds.
    MarkInstallationsRolledBack(link, id);
  } else {
    link.SetParam(1, id);
    RunServerLine(link, kUncopiedLine);
    for (auto& uncopied : SplitNames(link.GetParam(2))) result.skipped.push_back(std::move(uncopied));
  }
  return result;
}

}  // namespace dorvik
