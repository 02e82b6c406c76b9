#include "xml_export.h"

#include <expat.h>

#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "distribution/codepage.h"
#include "common_texts.h"
#include "dorpack/routine_name.h"
#include "macro_source.h"

namespace dorpack {

namespace {

// The texts of this file.
namespace text {

// What expat found wrong, in Russian; codes that an export of routines
// hardly meets are named by number.
std::string XmlFault(XML_Error code) {
  switch (code) {
    case XML_ERROR_NO_MEMORY:
      return "не хватило памяти";
    case XML_ERROR_SYNTAX:
      return "синтаксическая ошибка";
    case XML_ERROR_NO_ELEMENTS:
      return "в документе нет ни одного элемента";
    case XML_ERROR_INVALID_TOKEN:
      return "недопустимый знак или неверно составленный текст";
    case XML_ERROR_UNCLOSED_TOKEN:
      return "незакрытый тег или текст";
    case XML_ERROR_PARTIAL_CHAR:
      return "неполный символ";
    case XML_ERROR_TAG_MISMATCH:
      return "закрывающий тег не отвечает открывающему";
    case XML_ERROR_DUPLICATE_ATTRIBUTE:
      return "атрибут задан дважды";
    case XML_ERROR_JUNK_AFTER_DOC_ELEMENT:
      return "текст после конца документа";
    case XML_ERROR_UNDEFINED_ENTITY:
      return "неизвестная сущность";
    case XML_ERROR_BAD_CHAR_REF:
      return "ссылка на недопустимый символ";
    case XML_ERROR_MISPLACED_XML_PI:
      return "объявление XML не в начале документа";
    case XML_ERROR_UNKNOWN_ENCODING:
      return "неизвестная кодировка";
    case XML_ERROR_INCORRECT_ENCODING:
      return "текст не в объявленной кодировке";
    case XML_ERROR_UNCLOSED_CDATA_SECTION:
      return "незакрытый раздел CDATA";
    case XML_ERROR_XML_DECL:
      return "неверное объявление XML";
    default:
      return "ошибка разбора XML с кодом " + std::to_string(static_cast<int>(code));
  }
}
std::string CannotStart(const std::string& file) { return file + ": не запускается разборщик XML"; }
std::string TooLarge(const std::string& file) { return file + ": слишком велик для экспорта программ в XML"; }
std::string CdataNeverCloses(const std::string& name, const std::string& fault) {
  return "не правильный файл XML: раздел CDATA программы " + name + ", открытый здесь, не закрывается (" + fault + ")";
}
std::string NotWellFormed(const std::string& fault, long column) {
  return "не правильный файл XML: " + fault + " (столбец " + std::to_string(column) + ")";
}
std::string NoExport(const std::string& file) { return file + ": не экспорт XML (нет элемента <Export>)"; }
std::string Skipped(const std::string& file, std::size_t count, const std::string& list) {
  return file + ": пропущены элементы экспорта, которые не программы INT, MAC или INC (" + std::to_string(count) +
         "): " + list;
}
constexpr const char* kDoctype = "объявление типа документа, которого в экспорте программ не бывает";
std::string NestedElement(const std::string& element, const std::string& routine) {
  return "элемент <" + element + "> внутри программы " + routine + ", в которой бывает только её текст";
}
std::string NotExport(const std::string& element) { return "документ — <" + element + ">, а не <Export> программ"; }
std::string Generator(const std::string& generator) {
  return "экспорт создан «" + generator + "»; dorpack читает экспорты Cache и IRIS";
}
constexpr const char* kNoGenerator = "<Export> не называет создателя (generator); dorpack читает экспорты Cache и IRIS";
std::string NoName(const std::string& element) { return "<" + element + "> без имени (name)"; }
std::string NoType(const std::string& name, int line) {
  return "у программы " + name + " (строка " + std::to_string(line) + ") не задан тип (INT, MAC или INC)";
}
std::string SkippedRoutine(const std::string& name, const std::string& type) {
  return "программа " + name + " типа " + type;
}
std::string BadName(const std::string& name) {
  return "<Routine name=\"" + name + "\"> — не имя программы (" + common_text::kRoutineNameRule + ")";
}
std::string NotBase64(const std::string& name) { return "текст <RoutineBase64 name=\"" + name + "\"> — не base64"; }
std::string Base64Text(const std::string& file, const std::string& name) {
  return file + " (текст base64 программы " + name + ")";
}

}  // namespace text

// The value of an attribute of a start tag, or none.
std::optional<std::string> Attribute(const XML_Char** attributes, const char* name) {
  for (std::size_t i = 0; attributes[i] != nullptr; i += 2) {
    if (std::strcmp(attributes[i], name) == 0) return std::string(attributes[i + 1]);
  }
  return std::nullopt;
}

// Base64 as XML carries it: line ends and blanks between the groups.
std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  int padding = 0;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    if (padding > 0) return std::nullopt;  // data after the padding
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else {
      return std::nullopt;
    }
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  // Left-over bits are the zero fill of the last group; six or more mean a
  // group of one character, which base64 never writes.
  if (bits >= 6 || padding > 2) return std::nullopt;
  return out;
}

// The code point of one UTF-8 character, or -1.
int DecodeUtf8(const std::string& utf8) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
  if (utf8.size() == 1 && b(0) < 0x80) return b(0);
  if (utf8.size() == 2) return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
  if (utf8.size() == 3) return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
  return -1;
}

// An encoding that expat does not know itself (windows-1251, cp866, koi8-r
// ...) as a table of its 256 bytes, through iconv. A byte that iconv cannot
// take alone (a multi-byte encoding) is invalid, so such an export is refused
// rather than misread.
int UnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
  int known = 0;
  for (int byte = 0; byte < 256; ++byte) {
    int code = -1;
    try {
      code = DecodeUtf8(dorvik::ConvertText(std::string(1, static_cast<char>(byte)), name, "UTF-8"));
    } catch (const std::exception&) {
      code = -1;
    }
    info->map[byte] = code;
    if (code >= 0) ++known;
  }
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return known > 0 ? XML_STATUS_OK : XML_STATUS_ERROR;
}

class ExportReader {
 public:
  ExportReader(std::string file, RoutineEncoding base64Encoding, Warnings* warnings)
      : file_(std::move(file)), base64Encoding_(base64Encoding), warnings_(warnings) {}

  std::vector<RoutineSpec> Read(std::string_view bytes) {
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr), XML_ParserFree);
    if (!parser) throw PackError(text::CannotStart(file_));
    parser_ = parser.get();
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &ExportReader::OnStart, &ExportReader::OnEnd);
    XML_SetCharacterDataHandler(parser_, &ExportReader::OnText);
    XML_SetCdataSectionHandler(parser_, &ExportReader::OnCdataStart, &ExportReader::OnCdataEnd);
    XML_SetStartDoctypeDeclHandler(parser_, &ExportReader::OnDoctype);
    XML_SetUnknownEncodingHandler(parser_, &UnknownEncoding, nullptr);

    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      throw PackError(text::TooLarge(file_));
    }
    const auto status = XML_Parse(parser_, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE);
    if (fault_) throw PackError(*fault_);
    if (status != XML_STATUS_OK) {
      if (item_ && item_->inCdata) {
        // Expat finds the fault at the end of the file; the maker needs the
        // place where the section opened.
        throw PackError(Where(Origin{file_, item_->cdataLine}) +
                        text::CdataNeverCloses(item_->name, text::XmlFault(XML_GetErrorCode(parser_))));
      }
      const auto line = static_cast<int>(XML_GetCurrentLineNumber(parser_));
      throw PackError(Where(Origin{file_, line}) +
                      text::NotWellFormed(text::XmlFault(XML_GetErrorCode(parser_)),
                                          static_cast<long>(XML_GetCurrentColumnNumber(parser_) + 1)));
    }
    if (!sawExport_) throw PackError(text::NoExport(file_));
    if (!skipped_.empty() && warnings_ != nullptr) {
      std::string list;
      for (const auto& item : skipped_) list += (list.empty() ? "" : ", ") + item;
      warnings_->push_back(text::Skipped(file_, skipped_.size(), list));
    }
    for (std::size_t i = 0; i < routines_.size(); ++i) {
      routines_[i].placeNumber = i + 1;
      routines_[i].placeCount = routines_.size();
      AcceptAsIntCode(routines_[i], kinds_[i], warnings_);
    }
    return std::move(routines_);
  }

 private:
  // The Routine or RoutineBase64 element being read.
  struct Item {
    bool base64 = false;
    std::string name;
    std::optional<std::string> type;
    int line = 0;
    int cdataLine = 0;
    bool inCdata = false;
    bool sawCdata = false;
    std::string cdata;
    std::string text;
  };

  static ExportReader& Self(void* data) { return *static_cast<ExportReader*>(data); }

  int Line() const { return static_cast<int>(XML_GetCurrentLineNumber(parser_)); }

  // Stops the parser with a refusal at the current line.
  void Fail(const std::string& message) {
    if (!fault_) fault_ = Where(Origin{file_, Line()}) + message;
    XML_StopParser(parser_, XML_FALSE);
  }

  static void OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    // An export never has one; its entities are no business of a packer.
    Self(data).Fail(text::kDoctype);
  }

  static void OnStart(void* data, const XML_Char* element, const XML_Char** attributes) {
    ExportReader& self = Self(data);
    ++self.depth_;
    if (self.depth_ == 1) {
      self.StartExport(element, attributes);
    } else if (self.depth_ == 2) {
      self.StartItem(element, attributes);
    } else if (self.item_) {
      self.Fail(text::NestedElement(element, self.item_->name));
    }
  }

  static void OnEnd(void* data, const XML_Char*) {
    ExportReader& self = Self(data);
    if (self.depth_ == 2 && self.item_) self.FinishItem();
    --self.depth_;
  }

  static void OnText(void* data, const XML_Char* text, int length) {
    ExportReader& self = Self(data);
    if (!self.item_ || self.depth_ != 2) return;
    (self.item_->inCdata ? self.item_->cdata : self.item_->text).append(text, static_cast<std::size_t>(length));
  }

  static void OnCdataStart(void* data) {
    ExportReader& self = Self(data);
    if (!self.item_) return;
    if (!self.item_->sawCdata) self.item_->cdataLine = self.Line();
    self.item_->inCdata = true;
    self.item_->sawCdata = true;
  }

  static void OnCdataEnd(void* data) {
    ExportReader& self = Self(data);
    if (self.item_) self.item_->inCdata = false;
  }

  void StartExport(const std::string& element, const XML_Char** attributes) {
    if (element != "Export") {
      Fail(text::NotExport(element));
      return;
    }
    sawExport_ = true;
    const auto generator = Attribute(attributes, "generator");
    if (generator != "Cache" && generator != "IRIS") {
      Fail(generator ? text::Generator(*generator) : text::kNoGenerator);
    }
  }

  void StartItem(const std::string& element, const XML_Char** attributes) {
    const auto name = Attribute(attributes, "name");
    if (element != "Routine" && element != "RoutineBase64") {
      skipped_.push_back(element + (name ? " " + *name : std::string()));
      return;
    }
    Item item;
    item.base64 = element == "RoutineBase64";
    item.line = Line();
    item.type = Attribute(attributes, "type");
    if (!name || name->empty()) {
      Fail(text::NoName(element));
      return;
    }
    item.name = *name;
    item_ = std::move(item);
  }

  void FinishItem() {
    Item item = std::move(*item_);
    item_.reset();
    const auto kind = item.type ? SourceKindNamed(*item.type) : std::nullopt;
    if (!item.type) {
      Fail(text::NoType(item.name, item.line));
      return;
    }
    if (!kind) {
      skipped_.push_back(text::SkippedRoutine(item.name, *item.type));
      return;
    }
    std::string name;
    try {
      name = dorvik::Utf8ToCp866(item.name);
    } catch (const dorvik::TextConversionError&) {
      name.clear();
    }
    if (!IsValidRoutineName(name)) {
      fault_ = Where(Origin{file_, item.line}) + text::BadName(item.name);
      XML_StopParser(parser_, XML_FALSE);
      return;
    }
    RoutineSpec routine;
    routine.name = name;
    routine.file = file_;
    routine.nameLine = item.line;
    try {
      if (item.base64) {
        ReadBase64Lines(item, routine);
      } else {
        ReadTextLines(item, routine);
      }
    } catch (const PackError& e) {
      fault_ = e.what();
      XML_StopParser(parser_, XML_FALSE);
      return;
    }
    routines_.push_back(std::move(routine));
    kinds_.push_back(*kind);
  }

  // The CDATA text (or the element's text when it has no CDATA section): the
  // lines of the file from the one after "<![CDATA[" on.
  void ReadTextLines(const Item& item, RoutineSpec& routine) const {
    std::string_view text = item.sawCdata ? std::string_view(item.cdata) : std::string_view(item.text);
    int first = item.sawCdata ? item.cdataLine : item.line;
    // XML has turned every CR LF into LF already.
    if (!text.empty() && text.front() == '\n') {
      text.remove_prefix(1);
      ++first;
    }
    routine.firstLine = first;
    const auto lines = SplitLines(text, file_, first);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      routine.lines.push_back(LineToCp866(lines[i], RoutineEncoding::kUtf8, LineOrigin(routine, i)));
    }
  }

  void ReadBase64Lines(const Item& item, RoutineSpec& routine) const {
    const auto bytes = DecodeBase64(item.text);
    if (!bytes) {
      throw PackError(Where(Origin{file_, item.line}) + text::NotBase64(item.name));
    }
    // Its lines are not lines of the file: a refusal names the routine's text.
    const std::string where = text::Base64Text(file_, item.name);
    routine.firstLine = 0;
    const auto lines = SplitLines(*bytes, where);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      routine.lines.push_back(LineToCp866(lines[i], base64Encoding_, Origin{where, static_cast<int>(i + 1)}));
    }
  }

  std::string file_;
  RoutineEncoding base64Encoding_;
  Warnings* warnings_;
  XML_Parser parser_ = nullptr;
  int depth_ = 0;
  bool sawExport_ = false;
  std::optional<Item> item_;
  std::optional<std::string> fault_;
  std::vector<std::string> skipped_;
  std::vector<RoutineSpec> routines_;
  std::vector<SourceKind> kinds_;
};

}  // namespace

std::vector<RoutineSpec> ReadXmlExport(std::string_view bytes, const std::string& file, RoutineEncoding base64Encoding,
                                       Warnings* warnings) {
  return ExportReader(file, base64Encoding, warnings).Read(bytes);
}

}  // namespace dorpack
