#include "generated_distribution.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include "distribution/codepage.h"
#include "dorpack/package_writer.h"

namespace reader_bench {

namespace fs = std::filesystem;

namespace {

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "reader-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

dorpack::RoutineSpec MakeRoutine(const std::string& name, int lines) {
  static const std::string comment = dorvik::Utf8ToCp866(" ; расчёт остатков по складу, строка ");
  dorpack::RoutineSpec routine;
  routine.name = name;
  routine.lines.push_back(name + comment + "0");
  for (int i = 1; i < lines; ++i) {
    const auto n = std::to_string(i);
    routine.lines.push_back(i % 3 == 0 ? comment + n : " s ^VMDATA(\"" + name + "\"," + n + ")=$g(x)+" + n);
  }
  return routine;
}

void Generate(const fs::path& file, int megabytes) {
  dorpack::Package p;
  p.product.bytes = dorvik::Utf8ToCp866("Велмора Склад");
  p.version.bytes = "2.9";
  p.buildDate.bytes = "08.12.2026";
  p.password.bytes = dorvik::Utf8ToCp866("пароль");
  p.key = 97;
  p.checkLabel.bytes = "check^VMCHK";
  p.checkRoutines = {MakeRoutine("VMCHK", 40), MakeRoutine("VMCHK2", 40)};
  for (int i = 0; i < 3; ++i) {
    p.postActions.push_back({{dorvik::Utf8ToCp866("Шаг настройки ") + std::to_string(i), {}},
                             {"step" + std::to_string(i) + "^VMSETUP", {}}});
  }
  // About 3.3 KB per routine of 100 lines.
  const int routines = megabytes * 1024 * 1024 / 3300;
  for (int i = 0; i < routines; ++i) p.routines.push_back(MakeRoutine("VM" + std::to_string(i), 100));
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  dorpack::WritePackage(p, out);
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

const fs::path& GeneratedDistribution(int megabytes) {
  static TemporaryFolder folder;
  static std::map<int, fs::path> files;
  auto it = files.find(megabytes);
  if (it == files.end()) {
    const fs::path file = folder.Path() / ("dorpack-" + std::to_string(megabytes) + "mb.dat");
    Generate(file, megabytes);
    it = files.emplace(megabytes, file).first;
  }
  return it->second;
}

}  // namespace reader_bench
