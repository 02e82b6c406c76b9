#include "located_json.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "dorpack/package.h"

namespace dorpack {

namespace {

using nlohmann::json;

// The texts of this file.
namespace text {

std::string GivenTwice(const std::string& key) { return "поле «" + key + "» задано дважды"; }
constexpr const char* kNotJson = "не правильный JSON: ";

// A token as the parser names it ("string literal", "'}'"), in Russian.
std::string Token(const std::string& token) {
  if (token == "string literal") return "строка";
  if (token == "number literal") return "число";
  if (token == "true literal") return "true";
  if (token == "false literal") return "false";
  if (token == "null literal") return "null";
  if (token == "end of input") return "конец текста";
  if (token == "value") return "значение";
  return token;  // a quoted sign such as '}'
}

// The parser's reason, said again in Russian. The parser's messages are of a
// few kinds ("unexpected '}'; expected string literal", "invalid literal",
// "unexpected end of input" ...); the token it names is kept as it was.
std::string Reason(const std::string& message) {
  const auto has = [&](const char* part) { return message.find(part) != std::string::npos; };
  std::string reason;
  if (has("unexpected end of input")) {
    reason = "текст обрывается раньше, чем кончается значение";
  } else if (has("expected end of input")) {
    reason = "после значения JSON идёт ещё текст";
  } else if (has("control character")) {
    reason = "управляющий символ внутри строки (его записывают как \\u0000 ... \\u001F)";
  } else if (has("missing closing quote")) {
    reason = "строка не закрыта кавычкой";
  } else if (has("ill-formed UTF-8") || has("UTF-8")) {
    reason = "текст не в UTF-8";
  } else if (has("surrogate") || has("'\\u'")) {
    reason = "неверная запись \\uXXXX";
  } else if (has("invalid string")) {
    reason = "неверная строка";
  } else if (has("invalid number") || has("number overflow")) {
    reason = "неверное число";
  } else if (has("invalid literal")) {
    reason = "неизвестное слово (в JSON есть только true, false и null)";
  } else if (const auto at = message.find("unexpected "); at != std::string::npos) {
    const auto end = message.find(';', at);
    reason = "здесь не может стоять " +
             Token(message.substr(at + 11, end == std::string::npos ? std::string::npos : end - at - 11));
    if (const auto expected = message.find("expected ", end);
        end != std::string::npos && expected != std::string::npos) {
      reason += " (ожидалось: " + Token(message.substr(expected + 9)) + ")";
    }
  } else {
    reason = "синтаксическая ошибка";
  }
  // The text the parser stopped at, when it says.
  if (const auto last = message.find("last read: "); last != std::string::npos) {
    std::string read = message.substr(last + 11);
    read = read.substr(0, read.find("; expected"));
    reason += " (прочитано: " + read + ")";
  }
  return reason;
}

}  // namespace text

// An input iterator over the text that records how far the parser has read,
// which gives the line of each value as the parser reports it.
class TrackingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  TrackingIterator(const char* at, const char** furthest) : at_(at), furthest_(furthest) {}
  reference operator*() const { return *at_; }
  TrackingIterator& operator++() {
    ++at_;
    if (at_ > *furthest_) *furthest_ = at_;
    return *this;
  }
  TrackingIterator operator++(int) {
    TrackingIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const TrackingIterator& other) const { return at_ == other.at_; }

 private:
  const char* at_;
  const char** furthest_;
};

// Builds the document like the library's own parser and notes lines on the way.
class LocatingHandler : public nlohmann::json_sax<json> {
 public:
  LocatingHandler(std::string_view text, const char** furthest, LocatedJson& out)
      : text_(text), furthest_(furthest), out_(out) {}

  bool null() override { return Place(json(nullptr)) != nullptr; }
  bool boolean(bool v) override { return Place(json(v)) != nullptr; }
  bool number_integer(number_integer_t v) override { return Place(json(v)) != nullptr; }
  bool number_unsigned(number_unsigned_t v) override { return Place(json(v)) != nullptr; }
  bool number_float(number_float_t v, const string_t&) override { return Place(json(v)) != nullptr; }
  bool string(string_t& v) override { return Place(json(v)) != nullptr; }
  bool binary(binary_t& v) override { return Place(json::binary(v)) != nullptr; }

  bool start_object(std::size_t) override { return Open(json::object()); }
  bool start_array(std::size_t) override { return Open(json::array()); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }

  bool key(string_t& k) override {
    Frame& frame = frames_.back();
    const std::string pointer = MemberPointer(frame.pointer, k);
    if (frame.node->contains(k)) {
      error_ = text::GivenTwice(k);
      errorLine_ = CurrentLine();
      return false;
    }
    out_.lines[pointer] = CurrentLine();
    key_ = k;
    return true;
  }

  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override {
    std::string message = ex.what();
    // Drop the library's "[json.exception.parse_error.101] " prefix.
    if (const auto close = message.find("] "); close != std::string::npos) message.erase(0, close + 2);
    error_ = text::kNotJson + text::Reason(message);
    errorLine_ = LineAt(std::min(position, text_.size()));
    return false;
  }

  const std::string& Error() const { return error_; }
  int ErrorLine() const { return errorLine_; }

 private:
  struct Frame {
    json* node;
    std::string pointer;
  };

  int LineAt(std::size_t offset) {
    if (offset < lineOffset_) {
      lineOffset_ = 0;
      line_ = 1;
    }
    line_ += static_cast<int>(std::count(text_.begin() + static_cast<std::ptrdiff_t>(lineOffset_),
                                         text_.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
    lineOffset_ = offset;
    return line_;
  }

  int CurrentLine() { return LineAt(static_cast<std::size_t>(*furthest_ - text_.data())); }

  // Puts a value where the parser is; returns it, with its pointer in `pointer`.
  json* Place(json&& v, std::string* pointer = nullptr) {
    std::string at;
    json* placed = nullptr;
    if (frames_.empty()) {
      out_.value = std::move(v);
      placed = &out_.value;
      out_.lines[at] = CurrentLine();
    } else if (Frame& frame = frames_.back(); frame.node->is_array()) {
      at = frame.pointer + "/" + std::to_string(frame.node->size());
      out_.lines[at] = CurrentLine();
      frame.node->push_back(std::move(v));
      placed = &frame.node->back();
    } else {
      at = MemberPointer(frame.pointer, key_);
      placed = &((*frame.node)[key_] = std::move(v));
    }
    if (pointer != nullptr) *pointer = std::move(at);
    return placed;
  }

  bool Open(json&& container) {
    std::string pointer;
    json* node = Place(std::move(container), &pointer);
    frames_.push_back(Frame{node, std::move(pointer)});
    return true;
  }

  bool Close() {
    frames_.pop_back();
    return true;
  }

  std::string_view text_;
  const char** furthest_;
  LocatedJson& out_;
  std::vector<Frame> frames_;
  std::string key_;
  std::string error_;
  int errorLine_ = 0;
  std::size_t lineOffset_ = 0;
  int line_ = 1;
};

}  // namespace

std::string MemberPointer(const std::string& pointer, std::string_view key) {
  std::string escaped;
  for (const char c : key) {
    if (c == '~') {
      escaped += "~0";
    } else if (c == '/') {
      escaped += "~1";
    } else {
      escaped += c;
    }
  }
  return pointer + "/" + escaped;
}

LocatedJson ParseLocatedJson(std::string_view text, const std::string& fileName) {
  LocatedJson out;
  const char* furthest = text.data();
  LocatingHandler handler(text, &furthest, out);
  const TrackingIterator first(text.data(), &furthest);
  const TrackingIterator last(text.data() + text.size(), &furthest);
  if (!json::sax_parse(first, last, &handler)) {
    throw PackError(Where(Origin{fileName, handler.ErrorLine()}) + handler.Error());
  }
  return out;
}

}  // namespace dorpack
