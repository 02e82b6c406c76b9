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
  EXPECT_EQ(Refusal(R"({"product": "П", "version": "1", "build_date": "2", "password": "3",
    "routines": ["dos/VMD.int"]})"),
            In("dos/VMD.int") +
                ":1: байт 7 текста не образует символ UTF-8 (файл читается как UTF-8; для файлов в кодовой "
                "странице 866 задайте \"encoding\": \"cp866\")");
}

TEST_F(ManifestTest, RefusesBadFieldsAtTheirLine) {
  const std::string m = In("m.json");
  EXPECT_EQ(Refusal(With("\"Велмора Склад\"", "\"\"")), m + ":2: название продукта — пустой текст");
  EXPECT_EQ(Refusal(With("  \"version\": \"3.1\",\n", "")), m + ":1: нет поля «version»");
  EXPECT_EQ(Refusal(With("\"08.12.2026\"", "\"\"")), m + ":4: дата сборки — пустой текст");
  EXPECT_EQ(Refusal(With("\"тайна\"", "\"\"")), m + ":5: пароль — пустой текст");
  EXPECT_EQ(Refusal(With("\"тайна\"", "7")), m + ":5: поле «password» должно быть текстом");
  EXPECT_NE(Refusal(With("\"Индексы\"", "\"Индексы @ 2\"")).find(m + ":10: описание последействия 1 содержит «@»"),
            std::string::npos);
  EXPECT_NE(Refusal(With("\"idx^VMS\"", "\"idx#VMS\"")).find(m + ":10: метка последействия 1 содержит «#»"),
            std::string::npos);
  EXPECT_EQ(Refusal(With("\"key\": 42", "\"key\": 256")),
            m + ":6: ключ должен быть целым числом от 0 до 255 или \"auto\", а не 256");
  EXPECT_EQ(Refusal(With("\"key\": 42", "\"key\": \"random\"")),
            m + ":6: ключ должен быть целым числом от 0 до 255 или \"auto\", а не \"random\"");
  EXPECT_EQ(Refusal(With("\"key\": 42", "\"kye\": 42")), m + ":6: неизвестное поле «kye»");
  EXPECT_EQ(Refusal(With("\"label\": \"idx^VMS\"", "\"label\": \"idx^VMS\", \"labl\": 1")),
            m + ":10: неизвестное поле «labl»");
  EXPECT_EQ(Refusal(With("\"key\": 42", "\"product\": \"x\"")), m + ":6: поле «product» задано дважды");
  EXPECT_EQ(Refusal(With("\"key\": 42,", "\"key\": 42")),
            m + ":7: не правильный JSON: здесь не может стоять строка (ожидалось: '}')");
  EXPECT_EQ(Refusal(With("\"key\": 42", "\"key\": tru")).rfind(m + ":6: не правильный JSON: неизвестное слово", 0), 0u);
  EXPECT_NE(Refusal(std::string(kManifest) + " x").find(": не правильный JSON: после значения JSON идёт ещё текст"),
            std::string::npos);
  EXPECT_EQ(Refusal(With("\"Велмора Склад\"", "\"Велмора ★\"")),
            m + ":2: поле «product» содержит символ «★», которого нет в кодовой странице 866, — байт 16 текста");
  EXPECT_EQ(Refusal(std::string(kManifest).insert(1, "\"encoding\": \"koi8-r\",")),
            m + ":1: кодировка должна быть \"utf-8\" или \"cp866\", а не \"koi8-r\"");
}

TEST_F(ManifestTest, RefusesBadRoutineFilesAtTheirLine) {
  const std::string m = In("m.json");
  folder_.Write("src/VMA.int", "VMA\n w 1\r2\n q\n");
  EXPECT_EQ(Refusal(kManifest), In("src/VMA.int") +
                                    ":2: возврат каретки (байт 13) внутри строки 2, в столбце 5 (строки кончаются "
                                    "только LF или CR LF)");
  folder_.Write("src/VMA.int", std::string("VMA\n q\n w \0\n", 12));
  EXPECT_EQ(Refusal(kManifest), In("src/VMA.int") + ":3: строка 3 программы VMA содержит нулевой байт");
  folder_.Write("src/VMA.int", "VMA\n q\n");

  folder_.Write("src/1VM.int", " q\n");
  EXPECT_NE(Refusal(kManifest).find(In("src/1VM.int") + ": «1VM» — неверное имя программы"), std::string::npos);
  std::filesystem::remove(folder_.Path() / "src/1VM.int");

  EXPECT_NE(Refusal(With("\"lib/%*.m\"", "\"src/*\"")).find(m + ":12: " + In("src/notes.txt") + " — не файл программ"),
            std::string::npos);
  EXPECT_EQ(Refusal(With("\"lib/%*.m\"", "\"lib/*.rtn\"")),
            m + ":12: шаблону «lib/*.rtn» не отвечает ни один файл в папке " + In("lib"));
  EXPECT_EQ(Refusal(With("\"src/VMB.int\"", "\"src/VMX.int\"")), m + ":12: нет файла программы " + In("src/VMX.int"));
  EXPECT_NE(Refusal(With("\"lib/%*.m\"", "\"*/VMA.int\""))
                .find(m + ":12: «*/VMA.int»: знаки шаблона допустимы только в имени файла"),
            std::string::npos);
  // Key 42 ("*") collides with a routine line.
  folder_.Write("src/VMA.int", "VMA\n s x=2*3\n");
  EXPECT_EQ(Refusal(kManifest), In("src/VMA.int") +
                                    ":2: ключом 42 содержимое не закодировать: строка 2 программы VMA содержит байт 42 "
                                    "(«*»), который был бы записан нулевым байтом (ключ задан в " +
                                    m + ":6)");
}

}  // namespace
