// Exclusive creation, on Linux and (in the Windows lane) under Wine, where
// the C runtime once ignored fopen's "x" and a second open of the install
// log truncated the first protocol.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/new_file.h"

namespace dorvik {
namespace {

std::string Contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(WriteNewFile, CreatesOnlyWhatDoesNotExist) {
  const auto dir = std::filesystem::temp_directory_path() / "velmora-new-file-test";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto path = dir / "dorvik.txt";
  const std::string big(3u << 20, '\xE0');  // more than one write on Windows

  struct Step {
    const char* what;
    std::filesystem::path path;
    std::string bytes;
    bool written;
    std::string left;  // the file's contents afterwards
  };
  const Step steps[] = {
      {"a new file", path, "first\r\n", true, "first\r\n"},
      {"the same name again", path, "second", false, "first\r\n"},
      {"an empty new file", dir / "empty.txt", "", true, ""},
      {"a large new file", dir / "big.txt", big, true, big},
      {"a folder that does not exist", dir / "missing" / "x.txt", "x", false, ""},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(WriteNewFile(s.path, s.bytes), s.written) << s.what;
    EXPECT_EQ(Contents(s.path), s.left) << s.what;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace dorvik
