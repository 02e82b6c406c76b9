// The dorpack executable: build and list --json end to end, exit codes,
// and files left untouched by a refused build.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "distribution/funcs.h"
#include "test_files.h"

namespace {

using dorpack_test::ReadBytes;
using dorpack_test::RunDorpack;
using dorpack_test::ScratchFolder;
using nlohmann::json;

class DorpackCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Write("chk/VMCHK.int", "VMCHK ; проверка\nchk() q 1\n");
    folder_.Write("src/VMA.int", "VMA ; первая программа\n w \"Привет\",!\n q\n");
    folder_.Write("src/VMB.rtn", "VMB\n q\n");
    folder_.Write("src/%VMLIB.m", "%VMLIB\n q\n");
  }

  std::string Path(const std::string& relative) const { return (folder_.Path() / relative).string(); }

  ScratchFolder folder_;
};

TEST_F(DorpackCommand, ListJsonGivesBackTheManifest) {
  for (const std::string key : {"0", "1", "254", "255", "\"auto\""}) {
    SCOPED_TRACE("key " + key);
    const std::string manifest = R"J({
      "product": "Велмора Склад", "version": "2.9", "build_date": "08.12.2026", "password": "Секрет",
      "key": )J" + key + R"J(,
      "check_label": "chk^VMCHK", "check_routines": ["chk/VMCHK.int"],
      "post_actions": [{"description": "Перестроение индексов", "label": "idx^VMA"},
                       {"description": "Отчёт", "label": "rep^VMA"}],
      "routines": ["src/*.int", "src/*.rtn", "src/%*.m"]
    })J";
    // "Отчёт" cannot be shown by the installer: refused, nothing written.
    folder_.Write("m.json", manifest);
    const auto refused = RunDorpack({"build", Path("m.json"), "-o", Path("d.dat")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find(Path("m.json") + ":6: описание последействия 2 содержит байт 241 («ё»)"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(Path("d.dat")));

    std::string fixed = manifest;
    fixed.replace(fixed.find("Отчёт"), std::string("Отчёт").size(), "Отчет");
    folder_.Write("m.json", fixed);
    const auto built = RunDorpack({"build", Path("m.json"), "-o", Path("d.dat")});
    ASSERT_EQ(built.exitCode, 0) << built.err;

    const auto listed = RunDorpack({"list", "--json", Path("d.dat")});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    json got = json::parse(listed.out);
    // The file was verified against its integrity marker.
    EXPECT_EQ(got.at("integrity").at("sha256").get<std::string>().size(), 64u);
    EXPECT_GT(got.at("integrity").at("sealed_bytes").get<int>(), 0);
    got.erase("integrity");
    const json want = {{"product", "Велмора Склад"},
                       {"version", "2.9"},
                       {"build_date", "08.12.2026"},
                       {"key", key == "\"auto\"" ? got.at("key").get<int>() : std::stoi(key)},
                       {"password", "Секрет"},
                       {"check_label", "chk^VMCHK"},
                       {"post_actions",
                        {{{"description", "Перестроение индексов"}, {"label", "idx^VMA"}},
                         {{"description", "Отчет"}, {"label", "rep^VMA"}}}},
                       {"check_routines", {{{"name", "VMCHK"}, {"lines", {"VMCHK ; проверка", "chk() q 1"}}}}},
                       {"routines",
                        {{{"name", "VMA"}, {"lines", {"VMA ; первая программа", " w \"Привет\",!", " q"}}},
                         {{"name", "VMB"}, {"lines", {"VMB", " q"}}},
                         {{"name", "%VMLIB"}, {"lines", {"%VMLIB", " q"}}}}}};
    EXPECT_EQ(got, want);
    std::filesystem::remove(Path("d.dat"));
  }
}

TEST_F(DorpackCommand, RefusedBuildKeepsTheEarlierFile) {
  folder_.Write("m.json", R"({"product": "P", "version": "1", "build_date": "D", "password": "pw",
    "routines": ["src/VMA.int"]})");
  ASSERT_EQ(RunDorpack({"build", Path("m.json"), "-o", Path("d.dat")}).exitCode, 0);
  const std::string before = ReadBytes(Path("d.dat"));
  // A folder that is not there: the system's reason, in Russian.
  const auto nowhere = RunDorpack({"build", Path("m.json"), "-o", Path("no/such/d.dat")});
  EXPECT_EQ(nowhere.exitCode, 1);
  EXPECT_EQ(nowhere.err, "dorpack build: " + Path("no/such/d.dat") +
                             ": рядом с ним не создаётся файл: нет такого файла или папки\n");

  folder_.Write("src/VMA.int", "VMA\n q\r w\n");
  const auto refused = RunDorpack({"build", Path("m.json"), "-o", Path("d.dat")});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find(Path("src/VMA.int") + ":2: возврат каретки (байт 13) внутри строки 2"), std::string::npos)
      << refused.err;
  EXPECT_EQ(ReadBytes(Path("d.dat")), before);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.Path()), {}), 4);
}

TEST_F(DorpackCommand, ListRefusesDamagedFiles) {
  folder_.Write("m.json", R"({"product": "P", "version": "1", "build_date": "D", "password": "pw", "key": 0,
    "post_actions": [{"description": "d", "label": "l^R"}], "routines": ["src/VMA.int", "src/VMB.rtn"]})");
  ASSERT_EQ(RunDorpack({"build", Path("m.json"), "-o", Path("d.dat")}).exitCode, 0);
  const std::string good = ReadBytes(Path("d.dat"));
  ASSERT_EQ(RunDorpack({"list", Path("d.dat")}).exitCode, 0);

  struct Damage {
    std::string bytes;
    std::string message;
  };
  // The file carries an integrity marker: damage after the post-action list
  // is found before anything is listed.
  std::string zero = good;
  zero[zero.find("VMB")] = '\0';
  std::string noPair = good;
  noPair.replace(noPair.find("d#l^R@"), 6, "dl^R@");
  std::string noLineEnd = good;
  noLineEnd.erase(noLineEnd.find("VMB\n") + 3);
  noLineEnd += "\r";
  // The same file as a packer without the marker would write it.
  std::string unsealed = good;
  const auto marker = unsealed.find("VMSEAL:");
  ASSERT_NE(marker, std::string::npos);
  unsealed.erase(marker, unsealed.find('\r', marker) - marker);
  folder_.Write("old.dat", unsealed);
  const auto old = RunDorpack({"list", Path("old.dat")});
  ASSERT_EQ(old.exitCode, 0);
  EXPECT_NE(old.out.find("Целостность:      нет отметки целостности"), std::string::npos) << old.out;
  EXPECT_NE(RunDorpack({"list", Path("d.dat")}).out.find("Целостность:      проверена, SHA-256 "), std::string::npos);
  std::string oldNoLineEnd = unsealed;
  oldNoLineEnd.erase(oldNoLineEnd.find("VMB\n") + 3);
  oldNoLineEnd += "\r";
  std::string oldLineCut = unsealed;
  oldLineCut.erase(oldLineCut.size() - 2, 1);  // the last line end of VMB
  for (const Damage& d :
       {Damage{good.substr(0, 2), "файл кончается на смещении 2, поле «название продукта» не дописано"},
        Damage{std::string("\0\0P\r\r", 5), "пустое поле «версия» на смещении 4"},
        Damage{std::string("\0\0P\r1\rD\r", 8),
               "файл кончается на смещении 8, поле «пароль исходных текстов» не дописано"},
        Damage{zero, "содержимое изменено после упаковки"},
        Damage{noPair, "содержимое изменено после упаковки: на 1 байт меньше упакованного"},
        Damage{noLineEnd, "содержимое изменено после упаковки: на 8 байт меньше упакованного"},
        Damage{good.substr(0, good.size() - 1), "целы программ 1 из 2 и программ проверки 0 из 0"},
        Damage{zero.substr(0, zero.find('\0', 2)), "файл обрывается на смещении"},
        Damage{unsealed.substr(0, unsealed.size() - 1), "файл обрывается на смещении"},
        Damage{oldNoLineEnd, "файл испорчен: в записи 2 раздела программ нет конца строки"},
        Damage{oldLineCut, "программа VMB: 2 байт после конца её последней строки"},
        // Cut right after the password: never an empty distribution.
        Damage{good.substr(0, good.find('\r', 8) + 1), "где должна начинаться запись: метка проверки"}}) {
    folder_.Write("bad.dat", d.bytes);
    const auto listed = RunDorpack({"list", "--json", Path("bad.dat")});
    EXPECT_EQ(listed.exitCode, 1) << d.message;
    EXPECT_NE(listed.err.find(d.message), std::string::npos) << d.message << ": " << listed.err;
    EXPECT_TRUE(listed.out.empty());
  }
  const auto missing = RunDorpack({"list", Path("none.dat")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find(Path("none.dat") + ": " + Path("none.dat") + " не существует или это не файл"),
            std::string::npos)
      << missing.err;
}

TEST_F(DorpackCommand, HelpAndWrongCommandLines) {
  for (const auto& args :
       {std::initializer_list<std::string>{"--help"}, {"build", "--help"}, {"list", "--help"}, {"extract", "--help"}}) {
    const auto result = RunDorpack(args);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out.rfind("Запуск: dorpack", 0), 0u) << result.out;
    EXPECT_EQ(result.out.find("Usage"), std::string::npos) << result.out;
  }
  EXPECT_NE(RunDorpack({"list", "--help"}).out.find("--json"), std::string::npos);
  EXPECT_NE(RunDorpack({"build", "--help"}).out.find("-o"), std::string::npos);
  EXPECT_EQ(RunDorpack({}).exitCode, 2);
  // A wrong command line says what is wrong first, then the help.
  for (const auto& [args, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"pack"}, "dorpack: неизвестная команда pack\nЗапуск: dorpack"},
           {{"build", Path("m.json")}, "dorpack build: нужны манифест и -o FILE\nЗапуск: dorpack build"},
           {{"build", Path("m.json"), "-o"}, "dorpack build: -o требует одно имя файла\n"},
           {{"list", "--xml", Path("d.dat")}, "dorpack list: неизвестный параметр --xml\nЗапуск: dorpack list"},
           {{"list"}, "dorpack list: не задан файл данных\n"},
           {{"extract", "--format", "xml"}, "dorpack extract: --format принимает int или ro\n"}}) {
    const auto result = RunDorpack(args);
    EXPECT_EQ(result.exitCode, 2) << said;
    EXPECT_EQ(result.err.rfind(said, 0), 0u) << result.err;
  }
  const auto none = RunDorpack({"build", Path("none.json"), "-o", Path("d.dat")});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.err, "dorpack build: " + Path("none.json") + ": манифест не открывается\n");
}

}  // namespace
