#include "routine_object.h"

#include <cstdint>

namespace mserver {
namespace {

constexpr std::string_view kMagic = "MSOBJ1";

void Put(std::string& out, std::string_view bytes) {
  const auto n = static_cast<std::uint32_t>(bytes.size());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((n >> shift) & 0xff));
  out.append(bytes);
}

bool Take(std::string_view& in, std::string& out) {
  if (in.size() < 4) return false;
  std::uint32_t n = 0;
  for (int i = 0; i < 4; ++i) n = (n << 8) | static_cast<unsigned char>(in[static_cast<std::size_t>(i)]);
  in.remove_prefix(4);
  if (in.size() < n) return false;
  out.assign(in.substr(0, n));
  in.remove_prefix(n);
  return true;
}

}  // namespace

std::string EncodeRoutineObject(const RoutineObject& object) {
  std::string out(kMagic);
  Put(out, object.compiled);
  for (const std::string& line : object.lines) Put(out, line);
  return out;
}

std::optional<RoutineObject> DecodeRoutineObject(std::string_view bytes) {
  if (bytes.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  bytes.remove_prefix(kMagic.size());
  RoutineObject object;
  if (!Take(bytes, object.compiled)) return std::nullopt;
  while (!bytes.empty()) {
    std::string line;
    if (!Take(bytes, line)) return std::nullopt;
    object.lines.push_back(std::move(line));
  }
  return object;
}

}  // namespace mserver
