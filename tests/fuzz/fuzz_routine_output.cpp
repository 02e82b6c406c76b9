// libFuzzer target: the input is a routine output file of Cache or GT.M/
// YottaDB (two header lines, then each routine's name line, its lines and an
// empty line). Its first byte chooses the extension (.ro, .rsa, or .rtn,
// which is read as routine output only when it begins like one) and the
// manifest's encoding, the rest is the file. What must hold is said in
// routine_file_fuzz.h; the extract writes routine output files again.
#include <cstddef>
#include <cstdint>

#include "routine_file_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static constexpr const char* kFiles[] = {"all.ro", "all.rsa", "all.rtn"};
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  routine_file_fuzz::PackRoutineFile(kFiles[data[0] % 3], bytes, (data[0] & 4) != 0, dorpack::ExtractFormat::kRo);
  return 0;
}
