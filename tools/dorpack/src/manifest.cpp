#include "dorpack/manifest.h"

#include <fstream>
#include <set>
#include <sstream>

#include "distribution/codepage.h"
#include "located_json.h"
#include "routine_files.h"

namespace dorpack {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Reads the fields of one JSON object, remembering which were used so that
// misspelt fields are refused instead of silently ignored.
class ManifestObject {
 public:
  ManifestObject(const LocatedJson& doc, std::string pointer, std::string file, const char* what)
      : doc_(doc), pointer_(std::move(pointer)), file_(std::move(file)) {
    const json& node = doc_.value.at(json::json_pointer(pointer_));
    if (!node.is_object()) Refuse(At(pointer_), std::string(what) + " must be a JSON object");
    node_ = &node;
  }

  Origin At(const std::string& pointer) const { return Origin{file_, doc_.LineOf(pointer)}; }
  Origin FieldAt(std::string_view name) const { return At(MemberPointer(pointer_, name)); }
  const std::string& Pointer() const { return pointer_; }

  const json* Find(const std::string& name) {
    known_.insert(name);
    const auto it = node_->find(name);
    return it == node_->end() ? nullptr : &*it;
  }

  // A text field converted to code page 866; empty when absent and not required.
  PackText Text(const std::string& name, bool required) {
    const json* value = Find(name);
    PackText text;
    text.origin = value != nullptr ? FieldAt(name) : At(pointer_);
    if (value == nullptr) {
      if (required) Refuse(text.origin, "the field \"" + name + "\" is missing");
      return text;
    }
    if (!value->is_string()) Refuse(text.origin, "the field \"" + name + "\" must be a text");
    try {
      text.bytes = dorvik::Utf8ToCp866(value->get_ref<const std::string&>());
    } catch (const dorvik::TextConversionError& e) {
      Refuse(text.origin, "the field \"" + name + "\" holds " + e.what());
    }
    return text;
  }

  void RefuseUnknownFields() const {
    for (const auto& [name, value] : node_->items()) {
      if (known_.count(name) == 0) Refuse(FieldAt(name), "unknown field \"" + name + "\"");
    }
  }

  [[noreturn]] static void Refuse(const Origin& origin, const std::string& message) {
    throw PackError(Where(origin) + message);
  }

 private:
  const LocatedJson& doc_;
  std::string pointer_;
  std::string file_;
  const json* node_ = nullptr;
  std::set<std::string> known_;
};

std::string ReadManifestText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) throw PackError(file.string() + ": cannot open the manifest");
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw PackError(file.string() + ": cannot read the manifest");
  return std::move(content).str();
}

void ReadKey(ManifestObject& root, Package& package) {
  const json* key = root.Find("key");
  if (key == nullptr) return;  // "auto"
  package.keyOrigin = root.FieldAt("key");
  if (key->is_string() && key->get_ref<const std::string&>() == "auto") return;
  if (key->is_number_integer()) {
    const auto value = key->get<std::int64_t>();
    if (value >= 0 && value <= 255) {
      package.key = static_cast<std::uint8_t>(value);
      return;
    }
  }
  ManifestObject::Refuse(package.keyOrigin,
                         "the key must be a whole number from 0 to 255 or \"auto\", not " + key->dump());
}

RoutineEncoding ReadEncoding(ManifestObject& root) {
  const json* value = root.Find("encoding");
  if (value == nullptr) return RoutineEncoding::kUtf8;
  if (value->is_string()) {
    const auto& name = value->get_ref<const std::string&>();
    if (name == "utf-8" || name == "UTF-8") return RoutineEncoding::kUtf8;
    if (name == "cp866" || name == "CP866") return RoutineEncoding::kCp866;
  }
  ManifestObject::Refuse(root.FieldAt("encoding"), "the encoding must be \"utf-8\" or \"cp866\", not " + value->dump());
}

std::vector<PostActionSpec> ReadPostActions(const LocatedJson& doc, ManifestObject& root, const std::string& file) {
  std::vector<PostActionSpec> actions;
  const json* list = root.Find("post_actions");
  if (list == nullptr) return actions;
  if (!list->is_array()) ManifestObject::Refuse(root.FieldAt("post_actions"), "\"post_actions\" must be a list");
  const std::string listPointer = MemberPointer(root.Pointer(), "post_actions");
  for (std::size_t i = 0; i < list->size(); ++i) {
    ManifestObject item(doc, listPointer + "/" + std::to_string(i), file, "a post-action");
    PostActionSpec action;
    action.description = item.Text("description", true);
    action.label = item.Text("label", true);
    item.RefuseUnknownFields();
    actions.push_back(std::move(action));
  }
  return actions;
}

// The files of one entry of a routine list: a file name or pattern, or a
// package-folder entry {"root": ..., "files": ...}.
std::vector<RoutineSource> ExpandEntry(const LocatedJson& doc, ManifestObject& root, const std::string& pointer,
                                       const std::string& field, const fs::path& folder) {
  const Origin origin = root.At(pointer);
  const json& entry = doc.value.at(json::json_pointer(pointer));
  if (entry.is_string()) return ExpandRoutineEntry(folder, entry.get<std::string>(), origin);
  if (!entry.is_object()) {
    ManifestObject::Refuse(origin, "an entry of \"" + field +
                                       "\" must be a file name, a pattern or {\"root\": ..., \"files\": ...}");
  }
  ManifestObject item(doc, pointer, origin.file, "an entry");
  const auto text = [&](const char* name) {
    const json* value = item.Find(name);
    if (value == nullptr || !value->is_string() || value->get_ref<const std::string&>().empty()) {
      ManifestObject::Refuse(value != nullptr ? item.FieldAt(name) : origin,
                             std::string("a package-folder entry needs \"") + name + "\" as a non-empty text");
    }
    return value->get<std::string>();
  };
  const std::string rootFolder = text("root");
  const std::string files = text("files");
  item.RefuseUnknownFields();
  return ExpandPackageEntry(folder, rootFolder, files, origin);
}

std::vector<RoutineSpec> ReadRoutineList(const LocatedJson& doc, ManifestObject& root, const std::string& field,
                                         bool required, const fs::path& folder, RoutineEncoding encoding,
                                         Warnings* warnings) {
  std::vector<RoutineSpec> routines;
  const json* list = root.Find(field);
  if (list == nullptr) {
    if (required) ManifestObject::Refuse(root.At(root.Pointer()), "the field \"" + field + "\" is missing");
    return routines;
  }
  if (!list->is_array())
    ManifestObject::Refuse(root.FieldAt(field), "\"" + field + "\" must be a list of file names or patterns");
  const std::string listPointer = MemberPointer(root.Pointer(), field);
  // A file named again (by a later pattern, say) keeps its first place.
  std::set<fs::path> taken;
  for (std::size_t i = 0; i < list->size(); ++i) {
    const std::string pointer = listPointer + "/" + std::to_string(i);
    for (const auto& source : ExpandEntry(doc, root, pointer, field, folder)) {
      std::error_code ec;
      fs::path identity = fs::weakly_canonical(source.file, ec);
      if (ec) identity = source.file.lexically_normal();
      if (!taken.insert(identity).second) continue;
      for (auto& routine : ReadRoutineSource(source, encoding, root.At(pointer), warnings)) {
        routines.push_back(std::move(routine));
      }
    }
  }
  return routines;
}

}  // namespace

Package LoadManifest(const fs::path& manifestFile, Warnings* warnings) {
  const std::string file = manifestFile.string();
  const LocatedJson doc = ParseLocatedJson(ReadManifestText(manifestFile), file);
  ManifestObject root(doc, "", file, "the manifest");
  const fs::path folder = manifestFile.parent_path();

  Package package;
  package.product = root.Text("product", true);
  package.version = root.Text("version", true);
  package.buildDate = root.Text("build_date", true);
  package.password = root.Text("password", true);
  ReadKey(root, package);
  package.checkLabel = root.Text("check_label", false);
  const RoutineEncoding encoding = ReadEncoding(root);
  package.postActions = ReadPostActions(doc, root, file);
  package.checkRoutines = ReadRoutineList(doc, root, "check_routines", false, folder, encoding, warnings);
  package.routines = ReadRoutineList(doc, root, "routines", true, folder, encoding, warnings);
  root.RefuseUnknownFields();
  return package;
}

}  // namespace dorpack
