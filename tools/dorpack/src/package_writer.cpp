#include "dorpack/package_writer.h"

#include <array>
#include <sstream>

#include "distribution/funcs.h"

namespace dorpack {

namespace {

constexpr char kHeaderEnd = 13;

// Writes encoded body bytes into a buffer that is handed to the stream in
// large pieces, so a package of any size is written without a second copy.
class BodyWriter {
 public:
  BodyWriter(std::ostream& out, std::uint8_t key) : out_(out) {
    for (int b = 0; b < 256; ++b) table_[static_cast<std::size_t>(b)] = static_cast<char>(dorvik::EncodeByte(static_cast<std::uint8_t>(b), key));
    buffer_.reserve(kFlushSize + 4096);
  }

  void Plain(std::string_view bytes) { buffer_.append(bytes); }

  void Encoded(std::string_view bytes) {
    for (const char c : bytes) buffer_.push_back(table_[static_cast<std::uint8_t>(c)]);
    if (buffer_.size() >= kFlushSize) Flush();
  }

  void Separator(std::uint8_t plain) { buffer_.push_back(table_[plain]); }

  void Routine(const RoutineSpec& routine) {
    Encoded(routine.name);
    Separator('\n');
    for (const auto& line : routine.lines) {
      Encoded(line);
      Separator('\n');
    }
    Separator('\r');
  }

  void Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kFlushSize = 1u << 20;
  std::ostream& out_;
  std::array<char, 256> table_{};
  std::string buffer_;
};

}  // namespace

void WritePackage(const Package& p, std::ostream& out) {
  CheckPackage(p);
  const std::uint8_t key = ResolveKey(p);
  BodyWriter w(out, key);

  // Byte 0 is not read by the installer; byte 1 is the key.
  w.Plain(std::string_view("\0", 1));
  w.Plain(std::string(1, static_cast<char>(key)));
  for (const auto* field : {&p.product, &p.version, &p.buildDate}) {
    w.Plain(field->bytes);
    w.Plain(std::string_view(&kHeaderEnd, 1));
  }

  w.Encoded(p.password.bytes);
  w.Separator('\r');
  w.Encoded(p.checkLabel.bytes);
  w.Separator('\r');
  for (const auto& action : p.postActions) {
    w.Encoded(action.description.bytes);
    w.Separator('#');
    w.Encoded(action.label.bytes);
    w.Separator('@');
  }
  w.Separator('\r');

  for (const auto& routine : p.checkRoutines) w.Routine(routine);
  w.Separator('\r');
  // Without a check label the installer reads one more record after the
  // empty one that ends the check routines and ignores it.
  if (p.checkLabel.bytes.empty()) w.Separator('\r');

  for (const auto& routine : p.routines) w.Routine(routine);
  w.Flush();
  if (!out) throw PackError("the distribution could not be written");
}

std::string PackageBytes(const Package& package) {
  std::ostringstream out;
  WritePackage(package, out);
  return std::move(out).str();
}

}  // namespace dorpack
