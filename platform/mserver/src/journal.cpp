#include "mserver/journal.h"

#include <stdexcept>
#include <vector>

#include "mengine/keycodec.h"
#include "mserver/log.h"
#include "mserver/transcript.h"

namespace mserver {
namespace kc = mengine::keycodec;

std::string GlobalReference(std::string_view key) {
  std::string name;
  std::vector<std::string> subscripts;
  if (!kc::Decode(key, name, subscripts)) return std::string(key);
  std::string out = "^" + name;
  if (subscripts.empty()) return out;
  out += '(';
  for (std::size_t i = 0; i < subscripts.size(); ++i) {
    if (i) out += ',';
    const std::string& s = subscripts[i];
    if (kc::IsCanonicalNumber(s)) {
      out += s;
    } else {
      out += '"';
      for (char c : s) {
        if (c == '"') out += '"';
        out += c;
      }
      out += '"';
    }
  }
  out += ')';
  return out;
}

Journal::Journal(const std::filesystem::path& file) {
  out_.open(file, std::ios::binary | std::ios::app);
  if (!out_) throw std::runtime_error("cannot open the journal file " + file.string());
}

void Journal::Set(std::uint64_t job, std::string_view ns, std::string_view key, std::string_view value) {
  std::string line = UtcTimestamp();
  line += "\tjob=";
  line += std::to_string(job);
  line += "\tns=";
  line += EscapeField(ns);
  line += "\tSET\t";
  line += EscapeField(GlobalReference(key));
  line += "\tvalue=";
  line += EscapeField(value);
  Write(line);
}

void Journal::Kill(std::uint64_t job, std::string_view ns, std::string_view key) {
  std::string line = UtcTimestamp();
  line += "\tjob=";
  line += std::to_string(job);
  line += "\tns=";
  line += EscapeField(ns);
  line += "\tKILL\t";
  line += EscapeField(GlobalReference(key));
  Write(line);
}

void Journal::Write(const std::string& line) {
  std::lock_guard lock(mutex_);
  out_ << line << '\n';
  out_.flush();
}

}  // namespace mserver
