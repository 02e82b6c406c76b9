#include "distribution/codepage.h"

#include <cerrno>
#include <iconv.h>

#include <memory>
#include <vector>

namespace dorvik {

namespace {

class Converter {
 public:
  Converter(const char* from, const char* to) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw TextConversionError(std::string("no converter from ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Opening a converter costs far more than converting a short text, and the
// installer converts a few texts per routine: each thread keeps the ones it
// has opened.
iconv_t CachedConverter(const char* fromCode, const char* toCode) {
  struct Entry {
    std::string from, to;
    std::unique_ptr<Converter> conv;
  };
  thread_local std::vector<Entry> cache;
  for (const Entry& e : cache) {
    if (e.from == fromCode && e.to == toCode) {
      iconv(e.conv->get(), nullptr, nullptr, nullptr, nullptr);  // back to the initial state
      return e.conv->get();
    }
  }
  auto conv = std::make_unique<Converter>(fromCode, toCode);
  const iconv_t cd = conv->get();
  cache.push_back({fromCode, toCode, std::move(conv)});
  return cd;
}

}  // namespace

std::string ConvertText(std::string_view text, const char* fromCode, const char* toCode) {
  const iconv_t cd = CachedConverter(fromCode, toCode);
  std::string out;
  out.resize(text.size() * 4 + 16);
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  std::size_t used = 0;
  while (true) {
    char* outPtr = out.data() + used;
    std::size_t outLeft = out.size() - used;
    const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    used = out.size() - outLeft;
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    const std::size_t offset = text.size() - inLeft;
    throw TextConversionError(std::string(errno == EILSEQ ? "a character that " : "an incomplete character that ") +
                              toCode + " cannot hold, at byte " + std::to_string(offset + 1) + " of the text");
  }
  out.resize(used);
  return out;
}

std::string Utf8ToCp1251(std::string_view utf8) { return ConvertText(utf8, "UTF-8", "CP1251"); }
std::string Utf8ToCp866(std::string_view utf8) { return ConvertText(utf8, "UTF-8", "CP866"); }
std::string Cp1251ToUtf8(std::string_view text) { return ConvertText(text, "CP1251", "UTF-8"); }
std::string Cp866ToUtf8(std::string_view text) { return ConvertText(text, "CP866", "UTF-8"); }

}  // namespace dorvik
