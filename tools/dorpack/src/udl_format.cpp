#include "udl_format.h"

#include "distribution/codepage.h"
#include "common_texts.h"
#include "dorpack/routine_name.h"

namespace dorpack {

namespace {

constexpr std::string_view kKeyword = "ROUTINE ";

// The texts of this file: the header, then what is wrong with it.
namespace text {

std::string Header(std::string_view line) { return "заголовок UDL «" + dorvik::Cp866ToUtf8(line) + "» "; }
constexpr const char* kNoName = "не называет программу";
std::string BadName(const std::string& name) {
  return "называет «" + name + "», а это не имя программы (" + common_text::kRoutineNameRule + ")";
}
constexpr const char* kNotAttributes = "содержит после имени программы текст, который не список атрибутов в скобках";
std::string BadType(const std::string& type) { return "задаёт тип «" + type + "»; " + common_text::kPackedTypes; }

}  // namespace text

[[noreturn]] void Refuse(const Origin& origin, std::string_view line, const std::string& fault) {
  throw PackError(Where(origin) + text::Header(line) + fault);
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

bool IsUdlHeaderLine(std::string_view line) { return line.substr(0, kKeyword.size()) == kKeyword; }

UdlHeader ParseUdlHeader(std::string_view line, const Origin& origin) {
  std::string_view rest = line.substr(kKeyword.size());
  const auto nameEnd = rest.find_first_of(" \t[");
  UdlHeader header;
  header.name = std::string(rest.substr(0, nameEnd));
  if (!IsValidRoutineName(header.name)) {
    Refuse(origin, line, header.name.empty() ? text::kNoName : text::BadName(dorvik::Cp866ToUtf8(header.name)));
  }
  rest = nameEnd == std::string_view::npos ? std::string_view() : Trim(rest.substr(nameEnd));
  if (rest.empty()) return header;  // no attributes: a MAC routine
  if (rest.front() != '[' || rest.back() != ']') {
    Refuse(origin, line, text::kNotAttributes);
  }
  std::string_view attributes = rest.substr(1, rest.size() - 2);
  while (!attributes.empty()) {
    const auto comma = attributes.find(',');
    const std::string_view item = Trim(attributes.substr(0, comma));
    attributes = comma == std::string_view::npos ? std::string_view() : attributes.substr(comma + 1);
    const auto equals = item.find('=');
    if (equals == std::string_view::npos) continue;  // a flag such as "Generated"
    const std::string_view key = Trim(item.substr(0, equals));
    if (key != "Type" && key != "type") continue;
    const std::string_view value = Trim(item.substr(equals + 1));
    const auto kind = SourceKindNamed(value);
    if (!kind) {
      Refuse(origin, line, text::BadType(dorvik::Cp866ToUtf8(value)));
    }
    header.kind = *kind;
  }
  return header;
}

std::string UdlHeaderLine(std::string_view name) { return std::string(kKeyword) + std::string(name) + " [Type=INT]"; }

}  // namespace dorpack
