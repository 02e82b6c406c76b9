// libFuzzer target: the input is a single-routine file with an optional UDL
// header ("ROUTINE VMA [Type=INT]"). Its first byte chooses the extension
// (.int, .mac, .inc, .m) and the manifest's encoding, the rest is the file.
// What must hold is said in routine_file_fuzz.h; besides, the routine is
// named by its file.
#include <cstddef>
#include <cstdint>

#include "routine_file_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static constexpr const char* kFiles[] = {"VMA.int", "VMA.mac", "VMA.inc", "VMA.m"};
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  routine_file_fuzz::PackRoutineFile(kFiles[data[0] % 4], bytes, (data[0] & 4) != 0, dorpack::ExtractFormat::kInt);
  return 0;
}
