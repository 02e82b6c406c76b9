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

// The texts of this file.
namespace text {

constexpr const char* kManifestNotObject = "манифест должен быть объектом JSON";
constexpr const char* kPostActionNotObject = "последействие должно быть объектом JSON";
constexpr const char* kEntryNotObject = "элемент списка программ должен быть объектом JSON";
std::string Missing(const std::string& name) { return "нет поля «" + name + "»"; }
std::string NotText(const std::string& name) { return "поле «" + name + "» должно быть текстом"; }
std::string NotCp866(const std::string& name, const std::string& fault) {
  return "поле «" + name + "» содержит " + fault;
}
std::string Unknown(const std::string& name) { return "неизвестное поле «" + name + "»"; }
std::string CannotOpen(const std::string& file) { return file + ": манифест не открывается"; }
std::string CannotRead(const std::string& file) { return file + ": манифест не читается"; }
std::string BadKey(const std::string& value) {
  return "ключ должен быть целым числом от 0 до 255 или \"auto\", а не " + value;
}
std::string BadEncoding(const std::string& value) {
  return "кодировка должна быть \"utf-8\" или \"cp866\", а не " + value;
}
constexpr const char* kPostActionsNotList = "поле «post_actions» должно быть списком";
std::string BadEntry(const std::string& field) {
  return "элемент поля «" + field + "» должен быть именем файла, шаблоном или {\"root\": ..., \"files\": ...}";
}
std::string PackageFieldNeeded(const char* name) {
  return std::string("элементу папки пакета нужно поле «") + name + "» с непустым текстом";
}
std::string NotList(const std::string& field) {
  return "поле «" + field + "» должно быть списком имён файлов или шаблонов";
}

}  // namespace text

// Reads the fields of one JSON object, remembering which were used so that
// misspelt fields are refused instead of silently ignored.
class ManifestObject {
 public:
  ManifestObject(const LocatedJson& doc, std::string pointer, std::string file, const char* notObject)
      : doc_(doc), pointer_(std::move(pointer)), file_(std::move(file)) {
    const json& node = doc_.value.at(json::json_pointer(pointer_));
    if (!node.is_object()) Refuse(At(pointer_), notObject);
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
      if (required) Refuse(text.origin, text::Missing(name));
      return text;
    }
    if (!value->is_string()) Refuse(text.origin, text::NotText(name));
    const auto& utf8 = value->get_ref<const std::string&>();
    try {
      text.bytes = dorvik::Utf8ToCp866(utf8);
    } catch (const dorvik::TextConversionError&) {
      Refuse(text.origin, text::NotCp866(name, Cp866Fault(utf8)));
    }
    return text;
  }

  void RefuseUnknownFields() const {
    for (const auto& [name, value] : node_->items()) {
      if (known_.count(name) == 0) Refuse(FieldAt(name), text::Unknown(name));
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
  if (!in.is_open()) throw PackError(text::CannotOpen(file.string()));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw PackError(text::CannotRead(file.string()));
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
  ManifestObject::Refuse(package.keyOrigin, text::BadKey(key->dump()));
}

RoutineEncoding ReadEncoding(ManifestObject& root) {
  const json* value = root.Find("encoding");
  if (value == nullptr) return RoutineEncoding::kUtf8;
  if (value->is_string()) {
    const auto& name = value->get_ref<const std::string&>();
    if (name == "utf-8" || name == "UTF-8") return RoutineEncoding::kUtf8;
    if (name == "cp866" || name == "CP866") return RoutineEncoding::kCp866;
  }
  ManifestObject::Refuse(root.FieldAt("encoding"), text::BadEncoding(value->dump()));
}

std::vector<PostActionSpec> ReadPostActions(const LocatedJson& doc, ManifestObject& root, const std::string& file) {
  std::vector<PostActionSpec> actions;
  const json* list = root.Find("post_actions");
  if (list == nullptr) return actions;
  if (!list->is_array()) ManifestObject::Refuse(root.FieldAt("post_actions"), text::kPostActionsNotList);
  const std::string listPointer = MemberPointer(root.Pointer(), "post_actions");
  for (std::size_t i = 0; i < list->size(); ++i) {
    ManifestObject item(doc, listPointer + "/" + std::to_string(i), file, text::kPostActionNotObject);
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
    ManifestObject::Refuse(origin, text::BadEntry(field));
  }
  ManifestObject item(doc, pointer, origin.file, text::kEntryNotObject);
  const auto text = [&](const char* name) {
    const json* value = item.Find(name);
    if (value == nullptr || !value->is_string() || value->get_ref<const std::string&>().empty()) {
      ManifestObject::Refuse(value != nullptr ? item.FieldAt(name) : origin, text::PackageFieldNeeded(name));
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
    if (required) ManifestObject::Refuse(root.At(root.Pointer()), text::Missing(field));
    return routines;
  }
  if (!list->is_array()) ManifestObject::Refuse(root.FieldAt(field), text::NotList(field));
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
  ManifestObject root(doc, "", file, text::kManifestNotObject);
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
