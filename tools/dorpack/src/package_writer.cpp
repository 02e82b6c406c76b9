#include "dorpack/package_writer.h"

#include <array>
#include <functional>
#include <sstream>

#include "distribution/funcs.h"
#include "distribution/integrity_marker.h"

namespace dorpack {

namespace {

constexpr char kHeaderEnd = 13;

// Where the bytes go: the file, or the digest of the sealed part.
using ByteSink = std::function<void(std::string_view)>;

// Writes encoded body bytes into a buffer that is handed to the sink in
// large pieces, so a package of any size is written without a second copy.
class BodyWriter {
 public:
  BodyWriter(ByteSink out, std::uint8_t key) : out_(std::move(out)) {
    for (int b = 0; b < 256; ++b)
      table_[static_cast<std::size_t>(b)] = static_cast<char>(dorvik::EncodeByte(static_cast<std::uint8_t>(b), key));
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
    out_(buffer_);
    written_ += static_cast<std::int64_t>(buffer_.size());
    buffer_.clear();
  }

  // Bytes handed to the sink so far.
  std::int64_t Written() const { return written_; }

 private:
  static constexpr std::size_t kFlushSize = 1u << 20;
  ByteSink out_;
  std::int64_t written_ = 0;
  std::array<char, 256> table_{};
  std::string buffer_;
};

// The whole file with `marker` as the integrity marker's text. Written once
// with an empty marker into the digest, whose bytes are then exactly the
// ones the marker seals, and once with the marker into the file.
void WriteFile(const Package& p, std::uint8_t key, std::string_view marker, BodyWriter& w) {
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
  // After the last "@" the installer ignores what the record holds.
  w.Encoded(marker);
  w.Separator('\r');

  for (const auto& routine : p.checkRoutines) w.Routine(routine);
  w.Separator('\r');
  // Without a check label the installer reads one more record after the
  // empty one that ends the check routines and ignores it.
  if (p.checkLabel.bytes.empty()) w.Separator('\r');
  for (const auto& routine : p.routines) w.Routine(routine);
  w.Flush();
}

}  // namespace

void WritePackage(const Package& p, std::ostream& out) {
  CheckPackage(p);
  const std::uint8_t key = ResolveKey(p);

  // First pass: the digest and length of every byte but the marker's own,
  // without keeping them.
  dorvik::Sha256 hash;
  BodyWriter sealer([&hash](std::string_view bytes) { hash.Update(bytes); }, key);
  WriteFile(p, key, {}, sealer);
  dorvik::IntegrityMarker marker;
  marker.version = dorvik::kSealsWholeFile;
  marker.checkRoutines = static_cast<std::int64_t>(p.checkRoutines.size());
  marker.routines = static_cast<std::int64_t>(p.routines.size());
  marker.sealedBytes = sealer.Written();
  marker.digest = hash.Final();

  BodyWriter w([&out](std::string_view bytes) { out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())); },
               key);
  WriteFile(p, key, dorvik::FormatIntegrityMarker(marker, key), w);
  if (!out) throw PackError("дистрибутив не удалось записать");
}

std::string PackageBytes(const Package& package) {
  std::ostringstream out;
  WritePackage(package, out);
  return std::move(out).str();
}

}  // namespace dorpack
