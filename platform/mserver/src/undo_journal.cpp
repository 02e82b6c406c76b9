#include "undo_journal.h"

#include <stdexcept>

namespace mserver {
namespace {

// 0x00 'T' 'X', then the job and the sequence number, 8 bytes each, big-endian.
const std::string kPrefix("\0TX", 3);

void PutU64(std::string& out, std::uint64_t v) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

std::uint64_t GetU64(std::string_view in, std::size_t at) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | static_cast<unsigned char>(in[at + i]);
  return v;
}

std::string Key(std::uint64_t job, std::uint64_t sequence) {
  std::string key = kPrefix;
  PutU64(key, job);
  PutU64(key, sequence);
  return key;
}

void PutBytes(std::string& out, std::string_view bytes) {
  PutU64(out, bytes.size());
  out.append(bytes);
}

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  std::uint64_t U64() {
    Need(8);
    std::uint64_t v = GetU64(in_, at_);
    at_ += 8;
    return v;
  }
  std::string Bytes() {
    std::uint64_t n = U64();
    Need(n);
    std::string s(in_.substr(at_, n));
    at_ += n;
    return s;
  }

 private:
  void Need(std::uint64_t n) const {
    if (n > in_.size() - at_) throw std::runtime_error("damaged undo record");
  }
  std::string_view in_;
  std::size_t at_ = 0;
};

std::string Encode(const mengine::UndoRecord& r) {
  std::string out;
  PutBytes(out, r.ns);
  PutBytes(out, r.key);
  PutU64(out, r.subtree ? 1 : 0);
  PutU64(out, r.before.size());
  for (const auto& [suffix, value] : r.before) {
    PutBytes(out, suffix);
    PutBytes(out, value);
  }
  return out;
}

mengine::UndoRecord Decode(std::string_view bytes) {
  Reader in(bytes);
  mengine::UndoRecord r;
  r.ns = in.Bytes();
  r.key = in.Bytes();
  r.subtree = in.U64() != 0;
  for (std::uint64_t n = in.U64(); n > 0; --n) {
    std::string suffix = in.Bytes();
    r.before.emplace_back(std::move(suffix), in.Bytes());
  }
  return r;
}

}  // namespace

void LmdbUndoJournal::Record(std::uint64_t job, std::uint64_t sequence, const mengine::UndoRecord& record) {
  store_.Put(Key(job, sequence), Encode(record));
}

void LmdbUndoJournal::Forget(std::uint64_t job, std::uint64_t from) {
  store_.DeleteRange(Key(job, from), Key(job + 1, 0));
}

std::map<std::uint64_t, std::vector<mengine::UndoRecord>> LmdbUndoJournal::Pending() const {
  std::map<std::uint64_t, std::vector<mengine::UndoRecord>> out;
  std::string end = kPrefix;
  end.back() = static_cast<char>('X' + 1);
  store_.Scan(kPrefix, end, [&](std::string_view key, std::string_view value) {
    if (key.size() == kPrefix.size() + 16) out[GetU64(key, kPrefix.size())].push_back(Decode(value));
    return true;
  });
  return out;
}

}  // namespace mserver
