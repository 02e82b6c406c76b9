// Reading manifests: fields, routine files and patterns, encodings, and
// refusals that point at the manifest's or the routine file's line.
#include <gtest/gtest.h>

#include "dorpack/manifest.h"
#include "dorpack/package_writer.h"
#include "test_files.h"

namespace {

using dorpack::LoadManifest;
using dorpack::PackError;
using dorpack_test::Dos;
using dorpack_test::ScratchFolder;

constexpr const char* kManifest = R"({
  "product": "Велмора Склад",
  "version": "3.1",
  "build_date": "08.12.2026",
  "password": "тайна",
  "key": 42,
  "check_label": "chk^VMCHK",
  "check_routines": ["check/VMCHK.int"],
  "post_actions": [
    {"description": "Индексы", "label": "idx^VMS"}
  ],
  "routines": ["src/VMB.int", "src/*.int", "lib/%*.m"]
}
)";

class ManifestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Write("check/VMCHK.int", "VMCHK ; проверка\nchk() q 1\n");
    folder_.Write("src/VMA.int", "VMA ; первая\n q\n");
    folder_.Write("src/VMB.int", "VMB\n q");
    folder_.Write("src/VMC.int", "");
    folder_.Write("src/notes.txt", "not a routine");
    folder_.Write("lib/%VMLIB.m", "%VMLIB\n q\n");
  }

  std::filesystem::path Manifest(const std::string& text) const { return folder_.Write("m.json", text); }

  // The refusal of LoadManifest (or of packing what it loaded).
  std::string Refusal(const std::string& text) const {
    try {
      dorpack::PackageBytes(LoadManifest(Manifest(text)));
    } catch (const PackError& e) {
      return e.what();
    }
    ADD_FAILURE() << "the manifest was accepted";
    return "";
  }

  // The manifest with one line replaced.
  static std::string With(const std::string& from, const std::string& to) {
    std::string text = kManifest;
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  }

  std::string In(const std::string& relative) const { return (folder_.Path() / relative).string(); }

  ScratchFolder folder_;
};

TEST_F(ManifestTest, ReadsFieldsFilesAndPatternsInOrder) {
  const dorpack::Package p = LoadManifest(Manifest(kManifest));
  EXPECT_EQ(p.product.bytes, Dos("Велмора Склад"));
  EXPECT_EQ(p.product.origin.line, 2);
  EXPECT_EQ(p.password.bytes, Dos("тайна"));
  EXPECT_EQ(p.key, 42);
  EXPECT_EQ(p.checkLabel.bytes, "chk^VMCHK");
  ASSERT_EQ(p.postActions.size(), 1u);
  EXPECT_EQ(p.postActions[0].description.bytes, Dos("Индексы"));
  EXPECT_EQ(p.postActions[0].label.origin.line, 10);
  ASSERT_EQ(p.checkRoutines.size(), 1u);
  EXPECT_EQ(p.checkRoutines[0].lines, (std::vector<std::string>{Dos("VMCHK ; проверка"), "chk() q 1"}));

  // VMB named first keeps its place; the pattern adds the rest sorted; an
  // empty file is a routine without lines; a file without a final line feed
  // keeps its last line.
  std::vector<std::string> names;
  for (const auto& r : p.routines) names.push_back(r.name);
  EXPECT_EQ(names, (std::vector<std::string>{"VMB", "VMA", "VMC", "%VMLIB"}));
  EXPECT_EQ(p.routines[0].lines, (std::vector<std::string>{"VMB", " q"}));
  EXPECT_TRUE(p.routines[2].lines.empty());
  EXPECT_EQ(p.routines[1].file, In("src/VMA.int"));
}

TEST_F(ManifestTest, ManifestInTheWorkingFolder) {
  Manifest(
      R"({"product": "P", "version": "1", "build_date": "2", "password": "3", "routines": ["*.int", "src/VMA.int"]})");
  folder_.Write("VMTOP.int", "VMTOP\n q\n");
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(folder_.Path());
  std::vector<std::string> files;
  try {
    for (const auto& r : LoadManifest("m.json").routines) files.push_back(r.file);
  } catch (const PackError& e) {
    ADD_FAILURE() << e.what();
  }
  std::filesystem::current_path(before);
  EXPECT_EQ(files, (std::vector<std::string>{"VMTOP.int", "src/VMA.int"}));
}

TEST_F(ManifestTest, DefaultsAndCp866RoutineFiles) {
  folder_.Write("dos/VMD.int", Dos("VMD ; досовский текст\n w \"Ё─\"\n"));
  const dorpack::Package p = LoadManifest(Manifest(R"({"product": "П", "version": "1", "build_date": "2",
    "password": "3", "encoding": "cp866", "routines": ["dos/VMD.int"]})"));
  EXPECT_FALSE(p.key.has_value());
  EXPECT_TRUE(p.checkLabel.bytes.empty());
  EXPECT_TRUE(p.postActions.empty());
  ASSERT_EQ(p.routines.size(), 1u);
  EXPECT_EQ(p.routines[0].lines[1], Dos(" w \"Ё─\""));

  // The same bytes read as UTF-8 are refused at their line.
  EXPECT_NE(Refusal(R"({"product": "П", "version": "1", "build_date": "2", "password": "3",
    "routines": ["dos/VMD.int"]})")
                .find(In("dos/VMD.int") + ":1: "),
            std::string::npos);
}

TEST_F(ManifestTest, RefusesBadFieldsAtTheirLine) {
  const std::string m = In("m.json");
  EXPECT_EQ(Refusal(With("\"Велмора Склад\"", "\"\"")), m + ":2: the product name is empty");
  EXPECT_EQ(Refusal(With("  \"version\": \"3.1\",\n", "")), m + ":1: the field \"version\" is missing");
  EXPECT_EQ(Refusal(With("\"08.12.2026\"", "\"\"")), m + ":4: the build date is empty");
  EXPECT_EQ(Refusal(With("\"тайна\"", "\"\"")), m + ":5: the password is empty");
  EXPECT_EQ(Refusal(With("\"тайна\"", "7")), m + ":5: the field \"password\" must be a text");
  EXPECT_NE(
      Refusal(With("\"Индексы\"", "\"Индексы @ 2\"")).find(m + ":10: the description of post-action 1 holds \"@\""),
      std::string::npos);
  EXPECT_NE(Refusal(With("\"idx^VMS\"", "\"idx#VMS\"")).find(m + ":10: the label of post-action 1 holds \"#\""),
            std::string::npos);
  EXPECT_EQ(Refusal(With("\"key\": 42", "\"key\": 256")),
            m + ":6: the key must be a whole number from 0 to 255 or \"auto\", not 256");
  EXPECT_EQ(Refusal(With("\"key\": 42", "\"key\": \"random\"")),
            m + ":6: the key must be a whole number from 0 to 255 or \"auto\", not \"random\"");
  EXPECT_EQ(Refusal(With("\"key\": 42", "\"kye\": 42")), m + ":6: unknown field \"kye\"");
  EXPECT_EQ(Refusal(With("\"label\": \"idx^VMS\"", "\"label\": \"idx^VMS\", \"labl\": 1")),
            m + ":10: unknown field \"labl\"");
  EXPECT_EQ(Refusal(With("\"key\": 42", "\"product\": \"x\"")), m + ":6: the field \"product\" is given twice");
  EXPECT_NE(Refusal(With("\"key\": 42,", "\"key\": 42")).find(m + ":7: not valid JSON"), std::string::npos);
  EXPECT_NE(Refusal(With("\"Велмора Склад\"", "\"Велмора ★\"")).find(m + ":2: the field \"product\" holds"),
            std::string::npos);
  EXPECT_EQ(Refusal(std::string(kManifest).insert(1, "\"encoding\": \"koi8-r\",")),
            m + ":1: the encoding must be \"utf-8\" or \"cp866\", not \"koi8-r\"");
}

TEST_F(ManifestTest, RefusesBadRoutineFilesAtTheirLine) {
  const std::string m = In("m.json");
  folder_.Write("src/VMA.int", "VMA\n w 1\r2\n q\n");
  EXPECT_EQ(Refusal(kManifest), In("src/VMA.int") +
                                    ":2: a carriage return (byte 13) inside line 2, at column 5 (only LF and CR LF "
                                    "end lines)");
  folder_.Write("src/VMA.int", std::string("VMA\n q\n w \0\n", 12));
  EXPECT_EQ(Refusal(kManifest), In("src/VMA.int") + ":3: line 3 of routine VMA holds a zero byte");
  folder_.Write("src/VMA.int", "VMA\n q\n");

  folder_.Write("src/1VM.int", " q\n");
  EXPECT_NE(Refusal(kManifest).find(In("src/1VM.int") + ": \"1VM\" is not a valid routine name"), std::string::npos);
  std::filesystem::remove(folder_.Path() / "src/1VM.int");

  EXPECT_NE(
      Refusal(With("\"lib/%*.m\"", "\"src/*\"")).find(m + ":12: " + In("src/notes.txt") + " is not a routine file"),
      std::string::npos);
  EXPECT_EQ(Refusal(With("\"lib/%*.m\"", "\"lib/*.rtn\"")),
            m + ":12: the pattern \"lib/*.rtn\" matches no file in " + In("lib"));
  EXPECT_EQ(Refusal(With("\"src/VMB.int\"", "\"src/VMX.int\"")),
            m + ":12: the routine file " + In("src/VMX.int") + " does not exist");
  EXPECT_NE(Refusal(With("\"lib/%*.m\"", "\"*/VMA.int\""))
                .find(m + ":12: \"*/VMA.int\": wildcards are allowed only in the file name"),
            std::string::npos);
  // Key 42 ("*") collides with a routine line.
  folder_.Write("src/VMA.int", "VMA\n s x=2*3\n");
  EXPECT_EQ(Refusal(kManifest), In("src/VMA.int") +
                                    ":2: key 42 cannot encode the content: line 2 of routine VMA holds byte 42 "
                                    "(\"*\"), which would be stored as a zero byte (the key is set at " +
                                    m + ":6)");
}

}  // namespace
