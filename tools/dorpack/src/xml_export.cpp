#include "xml_export.h"

#include <expat.h>

#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "distribution/codepage.h"
#include "dorpack/routine_name.h"
#include "macro_source.h"

namespace dorpack {

namespace {

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
    if (!parser) throw PackError(file_ + ": cannot start the XML parser");
    parser_ = parser.get();
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &ExportReader::OnStart, &ExportReader::OnEnd);
    XML_SetCharacterDataHandler(parser_, &ExportReader::OnText);
    XML_SetCdataSectionHandler(parser_, &ExportReader::OnCdataStart, &ExportReader::OnCdataEnd);
    XML_SetStartDoctypeDeclHandler(parser_, &ExportReader::OnDoctype);
    XML_SetUnknownEncodingHandler(parser_, &UnknownEncoding, nullptr);

    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      throw PackError(file_ + ": too large for an XML export of routines");
    }
    const auto status = XML_Parse(parser_, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE);
    if (fault_) throw PackError(*fault_);
    if (status != XML_STATUS_OK) {
      if (item_ && item_->inCdata) {
        // Expat finds the fault at the end of the file; the maker needs the
        // place where the section opened.
        throw PackError(Where(Origin{file_, item_->cdataLine}) + "not a well-formed XML file: the CDATA section of " +
                        item_->name + " opened here never closes (" +
                        XML_ErrorString(XML_GetErrorCode(parser_)) + ")");
      }
      const auto line = static_cast<int>(XML_GetCurrentLineNumber(parser_));
      throw PackError(Where(Origin{file_, line}) + "not a well-formed XML file: " +
                      XML_ErrorString(XML_GetErrorCode(parser_)) + " (column " +
                      std::to_string(XML_GetCurrentColumnNumber(parser_) + 1) + ")");
    }
    if (!sawExport_) throw PackError(file_ + ": not an XML export (no <Export> element)");
    if (!skipped_.empty() && warnings_ != nullptr) {
      std::string list;
      for (const auto& item : skipped_) list += (list.empty() ? "" : ", ") + item;
      warnings_->push_back(file_ + ": skipped " + std::to_string(skipped_.size()) + " item" +
                           (skipped_.size() == 1 ? "" : "s") +
                           " of the export that are not INT, MAC or INC routines: " + list);
    }
    for (std::size_t i = 0; i < routines_.size(); ++i) {
      routines_[i].place = "routine " + std::to_string(i + 1) + " of " + std::to_string(routines_.size());
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
    Self(data).Fail("a document type declaration, which an export of routines never has");
  }

  static void OnStart(void* data, const XML_Char* element, const XML_Char** attributes) {
    ExportReader& self = Self(data);
    ++self.depth_;
    if (self.depth_ == 1) {
      self.StartExport(element, attributes);
    } else if (self.depth_ == 2) {
      self.StartItem(element, attributes);
    } else if (self.item_) {
      self.Fail("an element <" + std::string(element) + "> inside routine " + self.item_->name +
                ", which holds only its text");
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
      Fail("the document is <" + element + ">, not an <Export> of routines");
      return;
    }
    sawExport_ = true;
    const auto generator = Attribute(attributes, "generator");
    if (generator != "Cache" && generator != "IRIS") {
      Fail(generator ? "the export's generator is \"" + *generator + "\"; dorpack reads exports of Cache and IRIS"
                     : "the <Export> names no generator; dorpack reads exports of Cache and IRIS");
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
      Fail("a <" + element + "> without a name");
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
      Fail("routine " + item.name + " (line " + std::to_string(item.line) + ") has no type (INT, MAC or INC)");
      return;
    }
    if (!kind) {
      skipped_.push_back("routine " + item.name + " of type " + *item.type);
      return;
    }
    std::string name;
    try {
      name = dorvik::Utf8ToCp866(item.name);
    } catch (const dorvik::TextConversionError&) {
      name.clear();
    }
    if (!IsValidRoutineName(name)) {
      fault_ = Where(Origin{file_, item.line}) + "<Routine name=\"" + item.name +
               "\"> is not a routine name (a letter or \"%\" first, then letters and digits, with single dots "
               "between parts)";
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
      throw PackError(Where(Origin{file_, item.line}) + "the text of <RoutineBase64 name=\"" + item.name +
                      "\"> is not base64");
    }
    // Its lines are not lines of the file: a refusal names the routine's text.
    const std::string where = file_ + " (the base64 text of routine " + item.name + ")";
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
