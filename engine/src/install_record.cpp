#include "engine/install_record.h"

#include <fstream>
#include <system_error>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "distribution/sha256.h"
#include "engine/routine_compare.h"

namespace dorvik {

namespace {

constexpr std::size_t kReadBlock = 1 << 16;

// P1 = product _ TAB _ version _ TAB _ build _ TAB _ digest (code page 866),
// P2 = options _ TAB _ backup set; answers the entry's number in P1.
const std::string kRecordLine =
    "s %dvO=P2,P2=$I(^DorvikInstalled),^DorvikInstalled(P2)=$ZDT($H,3)_$C(9)_P1_$C(9)_$ZNSPACE,"
    "^DorvikInstalled(P2,\"options\")=$P(%dvO,$C(9)),^DorvikInstalled(P2,\"backup\")=$P(%dvO,$C(9),2),"
    "^DorvikInstalled(P2,\"state\")=\"installed\",P1=P2";

// P1 = the previous entry number ("" at the start); answers the next one in
// P1 ("" when none is left) and its fields joined by TAB in P2.
const std::string kNextLine =
    "s P1=$O(^DorvikInstalled(P1)),P2=$S(P1=\"\":\"\",1:$G(^DorvikInstalled(P1))_$C(9)_$G(^DorvikInstalled(P1,"
    "\"options\"))_$C(9)_$G(^DorvikInstalled(P1,\"backup\"))_$C(9)_$G(^DorvikInstalled(P1,\"state\")))";

// P1 = backup set number.
const std::string kMarkLine =
    "s %dvI=\"\" f  s %dvI=$O(^DorvikInstalled(%dvI)) q:%dvI=\"\"  i $G(^DorvikInstalled(%dvI,\"backup\"))=P1 "
    "s ^DorvikInstalled(%dvI,\"state\")=\"rolled back\"";

bool IsEntryNumber(const std::string& id) {
  return !id.empty() && id.size() <= 18 && id.find_first_not_of("0123456789") == std::string::npos && id[0] != '0';
}

// A text that goes between TABs on the server: a TAB inside would shift the
// fields after it.
std::string Field(const std::string& cp1251) {
  std::string out = Cp1251ToCp866(cp1251);
  for (char& c : out) {
    if (c == '\t') c = ' ';
  }
  return out;
}

}  // namespace

std::string DistributionDigest(const std::filesystem::path& dataFile) {
  std::ifstream in(dataFile, std::ios::binary);
  if (!in) throw std::system_error(std::make_error_code(std::errc::io_error), "cannot read " + dataFile.string());
  Sha256 hash;
  std::string block(kReadBlock, '\0');
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    hash.Update(std::string_view(block.data(), static_cast<std::size_t>(in.gcount())));
  }
  if (in.bad()) throw std::system_error(std::make_error_code(std::errc::io_error), "cannot read " + dataFile.string());
  return Sha256::ToHex(hash.Final());
}

std::string OptionWords(const InstallOptions& o) {
  std::string words = o.RunPreActions ? "pre-actions" : "no-pre-actions";
  words += o.HardPreAction ? ",hard" : ",soft";
  words += o.RestoreRoutines ? ",restore" : ",no-restore";
  words += o.RunPostActions ? ",post-actions" : ",no-post-actions";
  words += o.KeepSources ? ",keep-sources" : ",remove-sources";
  return words;
}

std::string RecordInstallation(ServerLink& link, const Distribution& dist, const std::string& digest,
                               const InstallOptions& options, const std::string& backupId) {
  link.SetParam(1, Field(dist.ProductName) + "\t" + Field(dist.Version) + "\t" + Field(dist.BuildDate) + "\t" + digest);
  link.SetParam(2, OptionWords(options) + "\t" + backupId);
  RunServerLine(link, kRecordLine);
  const std::string id = link.GetParam(1);
  if (!IsEntryNumber(id)) throw ServerCallError("the server gave no entry number (\"" + id + "\")");
  return id;
}

std::vector<InstalledDistribution> ListInstallations(ServerLink& link) {
  std::vector<InstalledDistribution> entries;
  std::string id;
  for (;;) {
    link.SetParam(1, id);
    RunServerLine(link, kNextLine);
    id = link.GetParam(1);
    if (id.empty()) break;
    if (!IsEntryNumber(id)) continue;  // not one of ours
    const std::string fields = link.GetParam(2);
    InstalledDistribution e;
    e.id = id;
    e.time = Piece(fields, '\t', 1);
    e.product = Cp866ToCp1251(Piece(fields, '\t', 2));
    e.version = Cp866ToCp1251(Piece(fields, '\t', 3));
    e.build = Cp866ToCp1251(Piece(fields, '\t', 4));
    e.digest = Piece(fields, '\t', 5);
    e.ns = Cp866ToCp1251(Piece(fields, '\t', 6));
    e.options = Piece(fields, '\t', 7);
    e.backup = Piece(fields, '\t', 8);
    e.state = Piece(fields, '\t', 9);
    entries.push_back(std::move(e));
  }
  return entries;
}

std::optional<InstalledDistribution> CurrentInstallation(const std::vector<InstalledDistribution>& entries) {
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (!it->RolledBack()) return *it;
  }
  return std::nullopt;
}

void MarkInstallationsRolledBack(ServerLink& link, const std::string& backupId) {
  if (backupId.empty()) return;
  link.SetParam(1, backupId);
  RunServerLine(link, kMarkLine);
}

}  // namespace dorvik
