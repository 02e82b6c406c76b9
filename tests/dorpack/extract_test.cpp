// dorpack extract and dorpack list MANIFEST.json: sources of every format
// packed, written back out and packed again give the same data file; a
// manifest's routines are listed with the file and place they come from.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_files.h"

namespace {

namespace fs = std::filesystem;
using dorpack_test::ReadBytes;
using dorpack_test::RunDorpack;
using dorpack_test::ScratchFolder;

constexpr const char* kGtmRo =
    "Velmora\nGT.M 09-DEC-2026 10:20:31\nVMA\nVMA ; первая\n w \"Привет\",!\n q\n\nVMB\nVMB\n q\n\n\n\n";
constexpr const char* kExport =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Export generator=\"Cache\" version=\"25\">\n"
    "<Routine name=\"VMX\" type=\"INT\"><![CDATA[\nVMX ; из выгрузки\n q\n]]></Routine>\n"
    "<Class name=\"VM.Store\"></Class>\n</Export>\n";

class Extract : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Write("chk/VMCHK.int", "ROUTINE VMCHK [Type=INT]\r\nVMCHK ;\r\nchk() q 1\r\n");
    folder_.Write("src/all.ro", kGtmRo);
    folder_.Write("src/e.xml", kExport);
    folder_.Write("pkg/My/Pkg/X.int", "X ; пакет\n q\n");
    // A first line that an .int file would take for a UDL header.
    folder_.Write("src/VMH.m", "ROUTINE VMH [Type=INT]\n q\n");
    folder_.Write("src/_VMLIB.m", "%VMLIB\n q\n");
  }

  std::string Path(const std::string& relative) const { return (folder_.Path() / relative).string(); }

  void Manifest(const std::string& routines) const {
    folder_.Write("m.json", R"({"product": "Велмора Склад", "version": "2.9", "build_date": "08.12.2026",
      "password": "Секрет", "check_label": "chk^VMCHK", "check_routines": ["chk/VMCHK.int"],
      "post_actions": [{"description": "Индексы", "label": "idx^VMA"}], "routines": )" +
                                routines + "}");
  }

  void Build(const std::string& manifest, const std::string& data) const {
    const auto built = RunDorpack({"build", Path(manifest), "-o", Path(data)});
    ASSERT_EQ(built.exitCode, 0) << built.err;
  }

  ScratchFolder folder_;
};

TEST_F(Extract, FilesBuildExtractBuildGivesTheSameDataFile) {
  const std::string every =
      R"(["src/all.ro", "src/e.xml", {"root": "pkg", "files": "**/*.int"}, "src/VMH.m", "src/_VMLIB.m", "src/VME.int"])";
  folder_.Write("src/VME.int", "VME\n\n q\n\n");  // empty lines, the last one too
  Manifest(every);
  Build("m.json", "first.dat");

  const auto extracted = RunDorpack({"extract", Path("first.dat"), Path("out")});
  ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
  EXPECT_EQ(ReadBytes(Path("out/VMH.int")), "ROUTINE VMH [Type=INT]\nROUTINE VMH [Type=INT]\n q\n");
  EXPECT_EQ(ReadBytes(Path("out/VMA.int")), "VMA ; первая\n w \"Привет\",!\n q\n");
  EXPECT_EQ(ReadBytes(Path("out/check/VMCHK.int")), "VMCHK ;\nchk() q 1\n");
  EXPECT_TRUE(fs::exists(Path("out/%VMLIB.int")));
  EXPECT_TRUE(fs::exists(Path("out/My.Pkg.X.int")));
  Build("out/manifest.json", "second.dat");
  EXPECT_EQ(ReadBytes(Path("second.dat")), ReadBytes(Path("first.dat")));

  // As routine output files: the same file again, except that an empty
  // routine line, which that format cannot hold, becomes one blank.
  const auto asRo = RunDorpack({"extract", "--format", "ro", Path("first.dat"), Path("ro")});
  ASSERT_EQ(asRo.exitCode, 0) << asRo.err;
  EXPECT_NE(asRo.err.find("dorpack extract: предупреждение: routines.ro: строка 2 программы VME пуста"),
            std::string::npos)
      << asRo.err;
  Build("ro/manifest.json", "third.dat");
  EXPECT_NE(ReadBytes(Path("third.dat")), ReadBytes(Path("first.dat")));

  fs::remove(Path("src/VME.int"));
  Manifest(R"(["src/all.ro", "src/e.xml", {"root": "pkg", "files": "**/*.int"}, "src/VMH.m", "src/_VMLIB.m"])");
  Build("m.json", "first.dat");
  const auto again = RunDorpack({"extract", "--format", "ro", Path("first.dat"), Path("ro2")});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.err, "");
  EXPECT_TRUE(fs::exists(Path("ro2/check.ro")));
  Build("ro2/manifest.json", "fourth.dat");
  EXPECT_EQ(ReadBytes(Path("fourth.dat")), ReadBytes(Path("first.dat")));
}

TEST_F(Extract, RefusesAndLeavesNothingBehind) {
  folder_.Write("m.json", R"({"product": "P", "version": "1", "build_date": "2", "password": "3", "key": 0,
    "routines": ["src/all.ro"]})");
  Build("m.json", "d.dat");

  folder_.Write("busy/keep.txt", "mine");
  auto run = RunDorpack({"extract", Path("d.dat"), Path("busy")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("папка " + Path("busy") + " не пуста; извлекайте в новую или пустую папку"), std::string::npos)
      << run.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("busy")), {}), 1);

  // A data file of another packer whose routine name would leave the folder
  // (key 0 stores the body as it is; without the marker nothing seals it).
  std::string bytes = ReadBytes(Path("d.dat"));
  const auto marker = bytes.find("VMSEAL:");
  ASSERT_NE(marker, std::string::npos);
  bytes.erase(marker, bytes.find('\r', marker) - marker);
  bytes.replace(bytes.find("VMB\n"), 4, "../\n");
  folder_.Write("evil.dat", bytes);
  run = RunDorpack({"extract", Path("evil.dat"), Path("out/x")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("программа 2 называется «../», а это не имя программы"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(Path("out")));

  EXPECT_EQ(RunDorpack({"extract", Path("none.dat"), Path("n")}).exitCode, 1);
  EXPECT_EQ(RunDorpack({"extract", Path("d.dat")}).exitCode, 2);
  EXPECT_EQ(RunDorpack({"extract", "--format", "xml", Path("d.dat"), Path("n")}).exitCode, 2);
  EXPECT_NE(RunDorpack({"extract", "--help"}).out.find("--format ro"), std::string::npos);
}

TEST_F(Extract, ListOfAManifestNamesEachRoutinesSource) {
  Manifest(R"(["src/all.ro", "src/e.xml", {"root": "pkg", "files": "**/*.int"}])");
  const auto text = RunDorpack({"list", Path("m.json")});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("Программы проверки: 1\n  VMCHK       2 строки  " + Path("chk/VMCHK.int") + ":1\n"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("  VMB            2 строки  " + Path("src/all.ro") + ":8 (программа 2 из 2)\n"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("  My.Pkg.X       2 строки  " + Path("pkg/My/Pkg/X.int") + "\n"), std::string::npos)
      << text.out;
  EXPECT_NE(text.err.find("предупреждение: " + Path("src/e.xml") + ": пропущены элементы экспорта"), std::string::npos)
      << text.err;

  const auto json = nlohmann::json::parse(RunDorpack({"list", "--json", Path("m.json")}).out);
  EXPECT_EQ(json.at("routines").at(2),
            (nlohmann::json{
                {"name", "VMX"}, {"lines", 2}, {"file", Path("src/e.xml")}, {"line", 3}, {"place", "routine 1 of 1"}}));
  EXPECT_EQ(json.at("warnings").size(), 1u);

  folder_.Write("src/all.ro", std::string(kGtmRo).substr(0, 40));
  const auto cut = RunDorpack({"list", Path("m.json")});
  EXPECT_EQ(cut.exitCode, 1);
  EXPECT_NE(cut.err.find(Path("src/all.ro") + ":5: файл кончается внутри программы VMA"), std::string::npos) << cut.err;
}

}  // namespace
