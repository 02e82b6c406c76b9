// libFuzzer target: the input is an XML export of routines (<Export> with
// <Routine> CDATA texts and <RoutineBase64> items). Its first byte chooses
// the encoding of the base64 texts, the rest is the file. What must hold is
// said in routine_file_fuzz.h.
#include <cstddef>
#include <cstdint>

#include "routine_file_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  routine_file_fuzz::PackRoutineFile("e.xml", bytes, (data[0] & 1) != 0, dorpack::ExtractFormat::kInt);
  return 0;
}
