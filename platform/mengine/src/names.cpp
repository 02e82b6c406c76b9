// Name tables for functions, special variables and commands.
#include "names.h"

#include <mutex>
#include <string>
#include <unordered_map>

namespace mengine {
namespace {

std::string Upper(std::string_view s) {
  std::string u(s);
  for (auto& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

template <class T>
struct Entry {
  const char* full;
  const char* abbrev;
  T id;
};

template <class T, std::size_t N>
std::optional<T> Find(const Entry<T> (&table)[N], std::string_view name) {
  std::string u = Upper(name);
  for (const auto& e : table)
    if (u == e.full || u == e.abbrev) return e.id;
  return std::nullopt;
}

const Entry<Fn> kFunctions[] = {
    {"ASCII", "A", Fn::Ascii},
    {"CHAR", "C", Fn::Char},
    {"DATA", "D", Fn::Data},
    {"EXTRACT", "E", Fn::Extract},
    {"FIND", "F", Fn::Find},
    {"FNUMBER", "FN", Fn::FNumber},
    {"GET", "G", Fn::Get},
    {"INCREMENT", "I", Fn::Increment},
    {"JUSTIFY", "J", Fn::Justify},
    {"LENGTH", "L", Fn::Length},
    {"NAME", "NA", Fn::Name},
    {"ORDER", "O", Fn::Order},
    {"PIECE", "P", Fn::Piece},
    {"QLENGTH", "QL", Fn::QLength},
    {"QSUBSCRIPT", "QS", Fn::QSubscript},
    {"QUERY", "Q", Fn::Query},
    {"RANDOM", "R", Fn::Random},
    {"REVERSE", "RE", Fn::Reverse},
    {"SELECT", "S", Fn::Select},
    {"TEXT", "T", Fn::Text},
    {"TRANSLATE", "TR", Fn::Translate},
    {"ZCONVERT", "ZCVT", Fn::ZConvert},
    {"ZDATE", "ZD", Fn::ZDate},
    {"ZDATEH", "ZDH", Fn::ZDateH},
    {"ZTIME", "ZT", Fn::ZTime},
    {"ZTIMEH", "ZTH", Fn::ZTimeH},
    {"LISTBUILD", "LB", Fn::ListBuild},
    {"LIST", "LI", Fn::List},
    {"LISTLENGTH", "LL", Fn::ListLength},
    {"LISTGET", "LG", Fn::ListGet},
    {"LISTFIND", "LF", Fn::ListFind},
    {"LISTDATA", "LD", Fn::ListData},
    {"ZUTIL", "ZU", Fn::ZU},
    {"STACK", "ST", Fn::Stack},
    {"CASE", "CASE", Fn::Case},
    {"ZABS", "ZABS", Fn::ZAbs},
    {"ZHEX", "ZH", Fn::ZHex},
    {"ZSTRIP", "ZSTRIP", Fn::ZStrip},
    {"ZDATETIME", "ZDT", Fn::ZDateTime},
    {"LISTVALID", "LV", Fn::ListValid},
    {"ZSQR", "ZSQR", Fn::ZSqr},
    {"ZCRC", "ZCRC", Fn::ZCRC},
};

const Entry<Sv> kSpecials[] = {
    {"HOROLOG", "H", Sv::Horolog},
    {"IO", "I", Sv::IO},
    {"JOB", "J", Sv::Job},
    {"TEST", "T", Sv::Test},
    {"X", "X", Sv::X},
    {"Y", "Y", Sv::Y},
    {"STACK", "ST", Sv::Stack},
    {"ZERROR", "ZE", Sv::ZError},
    {"ZTRAP", "ZT", Sv::ZTrap},
    {"ZNSPACE", "ZNS", Sv::ZNspace},
    {"ZVERSION", "ZV", Sv::ZVersion},
    {"ZHOROLOG", "ZH", Sv::ZHorolog},
    {"ZTIMESTAMP", "ZTS", Sv::ZTimestamp},
    {"PRINCIPAL", "P", Sv::Principal},
    {"ZNAME", "ZN", Sv::ZName},
    {"QUIT", "Q", Sv::Quit},
    {"STORAGE", "S", Sv::Storage},
    {"ZCHILD", "ZC", Sv::ZChild},
    {"ZPARENT", "ZP", Sv::ZParent},
    {"ZREFERENCE", "ZR", Sv::ZReference},
    {"DEVICE", "D", Sv::Device},
    {"KEY", "K", Sv::Key},
    {"ZA", "ZA", Sv::ZA},
    {"ZB", "ZB", Sv::ZB},
    {"ZEOF", "ZEOF", Sv::ZEof},
    {"ZJOB", "ZJ", Sv::ZJob},
    {"ETRAP", "ET", Sv::ETrap},
    {"ECODE", "EC", Sv::ECode},
    {"ESTACK", "ES", Sv::EStack},
    {"ZTIMEZONE", "ZZ", Sv::ZTimezone},
    {"TLEVEL", "TL", Sv::TLevel},
    {"HALT", "HALT", Sv::Halt},
    {"ZSTORAGE", "ZS", Sv::ZStorage},
    {"SYSTEM", "SY", Sv::System},
    {"TRESTART", "TR", Sv::TRestart},  // $TR(...) is $TRANSLATE, $TR alone $TRESTART
    {"TRE", "TRE", Sv::TRestart},
};

const Entry<Cmd> kCommands[] = {
    {"BREAK", "B", Cmd::Break},    {"CLOSE", "C", Cmd::Close},      {"DO", "D", Cmd::Do},
    {"ELSE", "E", Cmd::Else},      {"FOR", "F", Cmd::For},          {"GOTO", "G", Cmd::Goto},
    {"HALT", "HALT", Cmd::Halt},   {"HANG", "HANG", Cmd::Hang},     {"IF", "I", Cmd::If},
    {"JOB", "J", Cmd::Job},        {"KILL", "K", Cmd::Kill},        {"LOCK", "L", Cmd::Lock},
    {"MERGE", "M", Cmd::Merge},    {"NEW", "N", Cmd::New},          {"OPEN", "O", Cmd::Open},
    {"QUIT", "Q", Cmd::Quit},      {"READ", "R", Cmd::Read},        {"SET", "S", Cmd::Set},
    {"TSTART", "TS", Cmd::TStart}, {"TCOMMIT", "TC", Cmd::TCommit}, {"TROLLBACK", "TRO", Cmd::TRollback},
    {"USE", "U", Cmd::Use},        {"VIEW", "V", Cmd::View},        {"WRITE", "W", Cmd::Write},
    {"XECUTE", "X", Cmd::Xecute},  {"ZNSPACE", "ZN", Cmd::ZNspace}, {"ZWRITE", "ZW", Cmd::ZWrite},
    {"ZLOAD", "ZL", Cmd::ZLoad},   {"ZREMOVE", "ZR", Cmd::ZRemove}, {"ZINSERT", "ZI", Cmd::ZInsert},
    {"ZSAVE", "ZS", Cmd::ZSave},   {"ZPRINT", "ZP", Cmd::ZPrint},   {"ZTRAP", "ZT", Cmd::ZTrap},
    {"ZBREAK", "ZB", Cmd::ZBreak}, {"TRY", "TRY", Cmd::Try},         {"CATCH", "CATCH", Cmd::Catch},
    {"THROW", "THROW", Cmd::Throw}, {"TRESTART", "TRE", Cmd::TRestart},
};

}  // namespace

std::optional<Fn> LookupFunction(std::string_view name) { return Find(kFunctions, name); }
std::optional<Sv> LookupSpecial(std::string_view name) { return Find(kSpecials, name); }
std::optional<Cmd> LookupCommand(std::string_view name) { return Find(kCommands, name); }

std::uint32_t InternName(std::string_view name) {
  static std::mutex mutex;
  static std::unordered_map<std::string, std::uint32_t> ids;
  std::lock_guard lock(mutex);
  auto it = ids.find(std::string(name));
  if (it != ids.end()) return it->second;
  auto id = static_cast<std::uint32_t>(ids.size() + 1);
  ids.emplace(std::string(name), id);
  return id;
}

}  // namespace mengine
