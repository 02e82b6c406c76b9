// Packages that would not come back from the data file as given are refused
// with a message that says where and why.
#include <gtest/gtest.h>

#include <functional>

#include "dorpack/package_writer.h"
#include "dorpack/routine_name.h"
#include "test_files.h"

namespace {

using dorpack::Package;
using dorpack::PackError;
using dorpack_test::Dos;
using dorpack_test::DosText;

Package ValidPackage() {
  Package p;
  p.product = {Dos("Велмора"), {"m.json", 2}};
  p.version = {"1.0", {"m.json", 3}};
  p.buildDate = {"01.01.2026", {"m.json", 4}};
  p.password = {Dos("ключ"), {"m.json", 5}};
  p.postActions.push_back({{Dos("Описание"), {"m.json", 8}}, {"go^VMS", {"m.json", 8}}});
  p.routines.push_back({"VMS", {"VMS ; start", " q"}, "src/VMS.int"});
  return p;
}

// The refusal's message, or a failure when the package was accepted.
std::string Refusal(const Package& p) {
  try {
    dorpack::PackageBytes(p);
  } catch (const PackError& e) {
    return e.what();
  }
  ADD_FAILURE() << "the package was accepted";
  return "";
}

TEST(PackageRefusal, ValidPackageIsAccepted) { EXPECT_NO_THROW(dorpack::PackageBytes(ValidPackage())); }

TEST(PackageRefusal, EmptyHeaderTextsAndPassword) {
  const std::vector<std::pair<dorpack::PackText Package::*, std::string>> fields{
      {&Package::product, "m.json:2: название продукта — пустой текст"},
      {&Package::version, "m.json:3: версия — пустой текст"},
      {&Package::buildDate, "m.json:4: дата сборки — пустой текст"},
      {&Package::password, "m.json:5: пароль — пустой текст"}};
  for (const auto& [field, message] : fields) {
    Package p = ValidPackage();
    (p.*field).bytes.clear();
    EXPECT_EQ(Refusal(p), message);
  }
}

TEST(PackageRefusal, LineEndsAndZeroBytesInsideTexts) {
  Package p = ValidPackage();
  p.version.bytes = "1\r0";
  EXPECT_EQ(Refusal(p), "m.json:3: версия содержит возврат каретки (байт 13)");
  p = ValidPackage();
  p.password.bytes = std::string("a\0b", 3);
  EXPECT_EQ(Refusal(p), "m.json:5: пароль содержит нулевой байт");

  p = ValidPackage();
  p.routines[0].lines[1] = " q\r";
  EXPECT_EQ(Refusal(p), "src/VMS.int:2: строка 2 программы VMS содержит возврат каретки (байт 13)");
  p.routines[0].lines[1] = " w 1\n q";
  EXPECT_EQ(Refusal(p), "src/VMS.int:2: строка 2 программы VMS содержит перевод строки (байт 10)");
  p.routines[0].lines[1] = std::string(" w \0", 4);
  EXPECT_EQ(Refusal(p), "src/VMS.int:2: строка 2 программы VMS содержит нулевой байт");
}

TEST(PackageRefusal, PostActionSeparatorsAndEmptyLabel) {
  Package p = ValidPackage();
  p.postActions[0].description.bytes = "a@b";
  EXPECT_NE(Refusal(p).find("m.json:8: описание последействия 1 содержит «@»"), std::string::npos);
  p = ValidPackage();
  p.postActions[0].label.bytes = "go#1";
  EXPECT_NE(Refusal(p).find("m.json:8: метка последействия 1 содержит «#»"), std::string::npos);
  p = ValidPackage();
  p.postActions[0].label.bytes.clear();
  EXPECT_EQ(Refusal(p), "m.json:8: метка последействия 1 — пустой текст");
}

TEST(PackageRefusal, TextsTheInstallerCannotShow) {
  // Ё passes the installer's 866 to 1251 letter table unchanged and would be
  // shown as another letter; box-drawing bytes likewise.
  Package p = ValidPackage();
  p.product.bytes = Dos("Ёлка");
  EXPECT_NE(Refusal(p).find("m.json:2: название продукта содержит байт 240 («Ё»)"), std::string::npos);
  p = ValidPackage();
  p.password.bytes = Dos("ключ─");
  EXPECT_NE(Refusal(p).find("m.json:5: пароль содержит"), std::string::npos);
  p = ValidPackage();
  p.postActions[0].description.bytes = Dos("ещё");
  EXPECT_NE(Refusal(p).find("описание последействия 1 содержит"), std::string::npos);
  // The version and build date are shown as stored: ASCII only.
  p = ValidPackage();
  p.buildDate.bytes = Dos("8 декабря");
  EXPECT_NE(Refusal(p).find("m.json:4: дата сборки содержит байт 164 («д»)"), std::string::npos);
  // Routine texts are never converted, so they may hold any byte.
  p = ValidPackage();
  p.routines[0].lines.push_back(Dos(" ; ёлка ─"));
  EXPECT_NO_THROW(dorpack::PackageBytes(p));
}

TEST(PackageRefusal, CheckLabelAndCheckRoutinesGoTogether) {
  Package p = ValidPackage();
  p.checkLabel = {"chk^VMC", {"m.json", 6}};
  EXPECT_NE(Refusal(p).find("m.json:6: метка проверки задана, а программ проверки нет"), std::string::npos);
  p.checkLabel.bytes.clear();
  p.checkRoutines.push_back({"VMC", {" q 1"}, "src/VMC.int"});
  EXPECT_NE(Refusal(p).find("src/VMC.int: программы проверки заданы, а метка проверки нет"), std::string::npos);
}

TEST(PackageRefusal, RoutineNames) {
  for (const char* name : {"VM", "%VM", "V1", "My.Pkg.Routine", "%Z.a1"}) {
    EXPECT_TRUE(dorpack::IsValidRoutineName(name)) << name;
  }
  for (const char* name : {"", "%", "1VM", "V-M", "V M", "%%VM", "V..M", ".VM", "VM.", "V%M", "Вм"}) {
    EXPECT_FALSE(dorpack::IsValidRoutineName(name)) << name;
  }
  EXPECT_FALSE(dorpack::IsValidRoutineName(std::string(256, 'V')));
  EXPECT_TRUE(dorpack::IsValidRoutineName(std::string(255, 'V')));

  EXPECT_EQ(dorpack::RoutineNameOfFile("%VMLIB.int"), "%VMLIB");
  EXPECT_EQ(dorpack::RoutineNameOfFile("My.Pkg.M"), "My.Pkg");
  EXPECT_EQ(dorpack::RoutineNameOfFile("VM.RTN"), "VM");
  EXPECT_EQ(dorpack::RoutineNameOfFile("VM.mac"), "VM");
  EXPECT_EQ(dorpack::RoutineNameOfFile("VM.ro"), std::nullopt);  // its content names its routines
  EXPECT_EQ(dorpack::RoutineNameOfFile("_VMLIB.m"), "%VMLIB");
  EXPECT_EQ(dorpack::RoutineNameOfPath("My/Pkg/X.int"), "My.Pkg.X");
  EXPECT_EQ(dorpack::RoutineNameOfPath("_VMLIB.int"), "%VMLIB");

  Package p = ValidPackage();
  p.routines[0].name = "2VMS";
  EXPECT_NE(Refusal(p).find("src/VMS.int: «2VMS» — неверное имя программы"), std::string::npos);
  p = ValidPackage();
  p.routines.push_back({"VMS", {}, "src/VMS.m"});
  EXPECT_NE(Refusal(p).find("src/VMS.m: программа дистрибутива VMS задана дважды (ещё и в src/VMS.int)"),
            std::string::npos);
}

TEST(PackageRefusal, KeyThatCannotEncodeTheContent) {
  Package p = ValidPackage();
  p.keyOrigin = {"m.json", 6};
  for (const int separator : {13, 10, 64, 35}) {
    p.key = static_cast<std::uint8_t>(separator);
    EXPECT_NE(Refusal(p).find("m.json:6: ключом " + std::to_string(separator) + " содержимое не закодировать"),
              std::string::npos);
  }
  // "q" (113) occurs on line 2 of the routine: stored as zero with key 113.
  p.key = 'q';
  EXPECT_EQ(Refusal(p),
            "src/VMS.int:2: ключом 113 содержимое не закодировать: строка 2 программы VMS содержит байт 113 («q»), "
            "который был бы записан нулевым байтом (ключ задан в m.json:6)");
  // The password comes first in the file, and is named first.
  p.key = static_cast<std::uint8_t>(Dos("к")[0]);
  EXPECT_NE(Refusal(p).find("m.json:5: ключом 170 содержимое не закодировать: пароль содержит"), std::string::npos);
  p.key = 200;
  EXPECT_NO_THROW(dorpack::PackageBytes(p));
}

}  // namespace

namespace {

// The labels the installer would refuse before running anything: the packer
// refuses them with the same check, naming the manifest's line.
TEST(PackageRefusal, LabelsTheInstallerWouldRefuse) {
  for (const std::string& label : {std::string("go"), std::string("go^VMS(1)"), std::string("go^VMS\") k ^X w(\""),
                                   std::string("$$go^VMS"), std::string("go^"), std::string("g o^VMS")}) {
    Package p = ValidPackage();
    p.postActions[0].label.bytes = label;
    EXPECT_EQ(Refusal(p).rfind("m.json:8: метка последействия 1 «" + label + "» — не ссылка на точку входа", 0), 0u)
        << label;
    p = ValidPackage();
    p.checkLabel = {label, {"m.json", 6}};
    p.checkRoutines.push_back({"VMCHK", {"VMCHK", " q"}, "src/VMCHK.int"});
    EXPECT_EQ(Refusal(p).rfind("m.json:6: метка проверки «" + label + "» — не ссылка на точку входа", 0), 0u) << label;
  }
  for (const std::string& label :
       {std::string("go^VMS"), std::string("^VMS"), std::string("1^VMS"), std::string("%go^%VM.A")}) {
    Package p = ValidPackage();
    p.postActions[0].label.bytes = label;
    p.checkLabel = {label, {"m.json", 6}};
    p.checkRoutines.push_back({"VMCHK", {"VMCHK", " q"}, "src/VMCHK.int"});
    EXPECT_NO_THROW(dorpack::PackageBytes(p)) << label;
  }
  Package p = ValidPackage();
  p.postActions[0].description.bytes = "tab\there";
  EXPECT_EQ(Refusal(p), "m.json:8: описание последействия 1 содержит управляющий символ, который установщик отвергает");
}

}  // namespace
