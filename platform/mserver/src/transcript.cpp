#include "mserver/transcript.h"

#include <cstdio>
#include <stdexcept>

#include "mserver/log.h"

namespace mserver {

std::string EscapeField(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (u < 0x20 || u == 0x7f) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02x", u);
          out += hex;
        } else {
          out.push_back(c);
        }
    }
  }
  return out;
}

Transcript::Transcript(const std::filesystem::path& file) {
  out_.open(file, std::ios::binary | std::ios::app);
  if (!out_) throw std::runtime_error("cannot open the transcript file " + file.string());
}

void Transcript::Record(std::uint64_t job, const RequestReport& report, const mlink::Request& request,
                        const mlink::Answer& answer) {
  std::string line = UtcTimestamp();
  line += "\tjob=" + std::to_string(job);
  line += "\tns=" + EscapeField(report.nameSpace);
  line += report.journaling ? "\tjournal=on" : "\tjournal=off";
  line += "\tP1=" + EscapeField(request.p1);
  line += "\tP2=" + EscapeField(request.p2);
  line += "\tcode=" + EscapeField(request.code);
  if (answer.error) {
    line += "\terror=" + EscapeField(answer.errorName);
  } else {
    line += "\tok value=" + EscapeField(answer.value);
  }
  line += "\tupdates=" + std::to_string(report.journaled) + "/" + std::to_string(report.unjournaled);
  line += '\n';
  std::lock_guard lock(mutex_);
  out_ << line;
  out_.flush();
}

}  // namespace mserver
