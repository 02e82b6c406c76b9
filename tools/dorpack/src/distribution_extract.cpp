#include "dorpack/distribution_extract.h"

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "common_texts.h"
#include "distribution/codepage.h"
#include "dorpack/routine_name.h"
#include "ro_format.h"
#include "udl_format.h"

namespace dorpack {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using dorvik::Cp1251ToUtf8;
using dorvik::Cp866ToUtf8;

namespace {

// The texts of this file.
namespace text {

std::string NotFolder(const std::string& folder) { return folder + " — не папка"; }
std::string NotEmpty(const std::string& folder) {
  return "папка " + folder + " не пуста; извлекайте в новую или пустую папку";
}
std::string CannotCreateFolder(const std::string& folder, const std::string& why) {
  return "не создаётся папка " + folder + ": " + why;
}
std::string WrittenAlready(const std::string& file) {
  return file +
         " уже записан: две программы, чьи имена различаются только регистром букв, здесь — один файл; "
         "извлекайте на файловую систему, которая их различает";
}
std::string CannotCreate(const std::string& file) { return "не создаётся файл " + file; }
std::string CannotWrite(const std::string& file) { return "не записывается файл " + file; }
std::string NotName(const char* section, std::size_t number, const std::string& name) {
  return std::string(section) + " " + std::to_string(number) + " называется «" + name + "», а это не имя программы";
}
std::string EmptyLine(const std::string& file, std::size_t line, const std::string& routine) {
  return file + ": строка " + std::to_string(line) + " программы " + routine +
         " пуста, а в файле вывода программ пустых строк программы не бывает; она записана одним пробелом, поэтому "
         "собранный из него файл данных будет отличаться";
}
constexpr const char* kCheckRoutine = "программа проверки";
constexpr const char* kRoutine = "программа";
// The second header line of a routine output file written for a section.
std::string Title(const char* section) {
  return std::string(section) == kRoutine ? "программы дистрибутива" : "программы проверки";
}

}  // namespace text

// Writes files into the folder and takes them away again unless the extract
// is kept.
class OutputFolder {
 public:
  explicit OutputFolder(fs::path folder) : folder_(std::move(folder)) {
    std::error_code ec;
    if (fs::exists(folder_, ec)) {
      if (!fs::is_directory(folder_, ec)) throw PackError(text::NotFolder(folder_.string()));
      if (!fs::is_empty(folder_, ec)) throw PackError(text::NotEmpty(folder_.string()));
    } else {
      // The folders this creates, innermost first, to take away on failure.
      for (fs::path at = folder_; !at.empty() && !fs::exists(at, ec); at = at.parent_path()) {
        created_.push_back(at);
        if (at == at.parent_path()) break;
      }
      fs::create_directories(folder_, ec);
      if (ec) throw PackError(text::CannotCreateFolder(folder_.string(), common_text::SystemFault(ec)));
    }
  }
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  ~OutputFolder() {
    if (kept_) return;
    std::error_code ec;
    for (auto it = written_.rbegin(); it != written_.rend(); ++it) fs::remove(*it, ec);
    fs::remove(folder_ / "check", ec);                           // only when empty
    for (const auto& folder : created_) fs::remove(folder, ec);  // only when empty
  }

  // Writes a new file; a name that is there already (two routine names that
  // differ only in letter case, on a file system that does not tell them
  // apart) is refused.
  void Write(const fs::path& relative, const std::string& bytes) {
    const fs::path file = folder_ / relative;
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (fs::exists(file, ec)) {
      throw PackError(text::WrittenAlready(file.string()));
    }
    std::ofstream out(file, std::ios::binary);
    if (!out.is_open()) throw PackError(text::CannotCreate(file.string()));
    written_.push_back(file);
    out << bytes;
    out.close();
    if (!out) throw PackError(text::CannotWrite(file.string()));
  }

  void Keep() { kept_ = true; }
  const std::vector<fs::path>& Written() const { return written_; }

 private:
  fs::path folder_;
  std::vector<fs::path> written_;
  std::vector<fs::path> created_;
  bool kept_ = false;
};

// The routine's name, refused unless it is a routine name: it becomes part of
// a file name, and a name such as "../x" would write outside the folder.
std::string SafeName(const ListedRoutine& routine, const char* section, std::size_t number) {
  if (!IsValidRoutineName(routine.name)) {
    throw PackError(text::NotName(section, number, Cp866ToUtf8(routine.name)));
  }
  return Cp866ToUtf8(routine.name);
}

// An .int file that reads back as the same lines: a first line that would be
// taken for a UDL header gets a real header before it.
std::string IntFileText(const std::string& name, const ListedRoutine& routine) {
  std::string text;
  if (!routine.lines.empty() && IsUdlHeaderLine(routine.lines.front())) text += UdlHeaderLine(name) + "\n";
  for (const auto& line : routine.lines) text += Cp866ToUtf8(line) + "\n";
  return text;
}

json WriteSection(OutputFolder& out, const std::vector<ListedRoutine>& routines, const char* section,
                  const std::string& intFolder, const std::string& roFile, ExtractFormat format, Warnings& warnings) {
  json list = json::array();
  if (format == ExtractFormat::kInt) {
    for (std::size_t i = 0; i < routines.size(); ++i) {
      const std::string name = SafeName(routines[i], section, i + 1);
      const std::string relative = intFolder + name + ".int";
      out.Write(relative, IntFileText(name, routines[i]));
      list.push_back(relative);
    }
    return list;
  }
  if (routines.empty()) return list;
  std::vector<NamedRoutine> named;
  for (std::size_t i = 0; i < routines.size(); ++i) {
    NamedRoutine routine{SafeName(routines[i], section, i + 1), {}};
    for (std::size_t n = 0; n < routines[i].lines.size(); ++n) {
      if (routines[i].lines[n].empty()) {
        warnings.push_back(text::EmptyLine(roFile, n + 1, routine.name));
      }
      routine.lines.push_back(Cp866ToUtf8(routines[i].lines[n]));
    }
    named.push_back(std::move(routine));
  }
  std::ostringstream roText;
  WriteRoutineOutput(named, "dorpack extract", text::Title(section), roText);
  out.Write(roFile, roText.str());
  list.push_back(roFile);
  return list;
}

}  // namespace

ExtractResult ExtractDistribution(const DistributionListing& listing, const fs::path& folder, ExtractFormat format) {
  const auto& h = listing.header;
  ExtractResult result;
  OutputFolder out(folder);

  json manifest = json::object();
  manifest["product"] = Cp1251ToUtf8(h.ProductName);
  manifest["version"] = Cp866ToUtf8(h.Version);
  manifest["build_date"] = Cp866ToUtf8(h.BuildDate);
  manifest["password"] = Cp1251ToUtf8(h.SourcePassword);
  manifest["key"] = h.KeyByte;
  if (!h.CheckLabel.empty()) {
    manifest["check_label"] = Cp866ToUtf8(h.CheckLabel);
    manifest["check_routines"] =
        WriteSection(out, listing.checkRoutines, text::kCheckRoutine, "check/", "check.ro", format, result.warnings);
  }
  json actions = json::array();
  for (std::size_t i = 0; i < h.PostActionDescriptions.size(); ++i) {
    actions.push_back(json{{"description", Cp1251ToUtf8(h.PostActionDescriptions[i])},
                           {"label", Cp866ToUtf8(h.PostActionLabels[i])}});
  }
  manifest["post_actions"] = std::move(actions);
  manifest["routines"] =
      WriteSection(out, listing.routines, text::kRoutine, "", "routines.ro", format, result.warnings);
  manifest["encoding"] = "utf-8";
  out.Write("manifest.json", manifest.dump(2) + "\n");
  out.Keep();
  result.files = out.Written();
  return result;
}

}  // namespace dorpack
