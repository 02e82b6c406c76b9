#include "json_report.h"

#include <cstdio>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "locale_text.h"

namespace dorvik::cli {

namespace {

// The last lines the post-actions wrote that the document keeps.
constexpr std::size_t kPostActionLinesKept = 20;

Json TextOrNull(const std::string& cp1251) { return cp1251.empty() ? Json(nullptr) : Json(Utf8(cp1251)); }

// The publisher's signature: its state, the signer's key id, the trusted
// comment (UTF-8 as signed) and, when refused, why.
Json SignatureJson(const std::optional<signing::SignatureState>& s) {
  if (!s) return Json{{"state", "not_checked"}, {"signer", nullptr}};
  return Json{{"state", signing::SignatureStatusKey(s->status)},
              {"signer", s->signerKeyId.empty() ? Json(nullptr) : Json(s->signerKeyId)},
              {"trusted_comment", s->trustedComment.empty() ? Json(nullptr) : Json(s->trustedComment)},
              {"reason", TextOrNull(s->reason)}};
}

}  // namespace

std::string Utf8(const std::string& cp1251) {
  static const LocaleText utf8("UTF-8");
  return utf8.Show(cp1251);
}

const char* RoutineStateKey(const RoutineEntry& e) {
  if (e.damaged) return "damaged";
  switch (e.comparison.state) {
    case RoutineState::New:
      return "new";
    case RoutineState::Unchanged:
      return "unchanged";
    case RoutineState::Changed:
      return "changed";
    case RoutineState::WithoutSource:
      return "without_source";
    case RoutineState::DoesNotLoad:
      return "does_not_load";
  }
  return "";
}

const char* RoutineListKey(const RoutineEntry& e) {
  return !e.damaged && e.comparison.state == RoutineState::DoesNotLoad ? "without_source" : RoutineStateKey(e);
}

Json RoutineLists(const InstallPlan& plan) {
  static const char* const kLists[] = {"new", "changed", "unchanged", "without_source", "damaged"};
  Json lists = Json::object(), counts = Json::object();
  for (const char* key : kLists) lists[key] = Json::array();
  for (const auto& e : plan.routines) {
    if (!e.check) lists[RoutineListKey(e)].push_back(Utf8(Cp866ToCp1251(e.name)));
  }
  for (const char* key : kLists) counts[key] = lists[key].size();
  lists["counts"] = std::move(counts);
  return lists;
}

Json CheckRoutineStates(const std::vector<RoutineEntry>& routines) {
  Json out = Json::array();
  for (const auto& e : routines) {
    if (e.check) out.push_back({{"name", Utf8(Cp866ToCp1251(e.name))}, {"state", RoutineListKey(e)}});
  }
  return out;
}

Json BackupSetJson(const BackupSetInfo& b) {
  return Json{{"id", b.id},
              {"time", b.time},
              {"product", Utf8(b.product)},
              {"version", Utf8(b.version)},
              {"build", Utf8(b.build)},
              {"namespace", Utf8(b.ns)},
              {"routines", b.count},
              {"existed", b.existed},
              {"state", b.state}};
}

Json InstallationJson(const InstalledDistribution& e) {
  return Json{{"id", e.id},
              {"time", e.time},
              {"product", Utf8(e.product)},
              {"version", Utf8(e.version)},
              {"build", Utf8(e.build)},
              {"digest", e.digest},
              {"namespace", Utf8(e.ns)},
              {"options", e.options},
              {"backup", e.backup.empty() ? Json(nullptr) : Json(e.backup)},
              {"state", e.state}};
}

Json ReportJson(const CommandReport& r) {
  Json doc;
  doc["command"] = r.command;
  doc["status"] = r.status;
  doc["changed"] = r.changed;
  doc["product"] = TextOrNull(r.product);
  doc["version"] = TextOrNull(r.version);
  doc["build_date"] = TextOrNull(r.build);
  doc["digest"] = r.digest.empty() ? Json(nullptr) : Json(r.digest);
  doc["namespace"] = TextOrNull(r.ns);
  doc["signature"] = SignatureJson(r.signature);
  if (r.command == "install") {
    doc["routines"] = r.plan ? RoutineLists(*r.plan) : Json(nullptr);
    doc["check_routines"] = r.plan ? CheckRoutineStates(r.plan->routines) : Json(nullptr);
    doc["backup"] = r.backupId ? Json{{"id", *r.backupId}} : Json(nullptr);
    Json lines = Json::array();
    const std::size_t first =
        r.postActionLines.size() > kPostActionLinesKept ? r.postActionLines.size() - kPostActionLinesKept : 0;
    for (std::size_t i = first; i < r.postActionLines.size(); ++i) lines.push_back(Utf8(r.postActionLines[i]));
    doc["post_actions"] = {
        {"run", r.postActionsRun},
        {"last_words", r.postActionLines.empty() ? Json(nullptr) : Json(Utf8(r.postActionLines.back()))},
        {"lines", std::move(lines)}};
    doc["log_path"] = r.logPath ? Json(*r.logPath) : Json(nullptr);
    doc["record"] = r.recordId ? Json(*r.recordId) : Json(nullptr);
  }
  for (const auto& [key, value] : r.extra.items()) doc[key] = value;
  doc["error"] = r.status == 0 && r.errorStage.empty()
                     ? Json(nullptr)
                     : Json{{"stage", r.errorStage.empty() ? Json(nullptr) : Json(r.errorStage)},
                            {"text", TextOrNull(r.errorText)}};
  return doc;
}

void PrintReport(const CommandReport& report) {
  const std::string text = ReportJson(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace dorvik::cli
