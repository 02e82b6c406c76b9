// The input formats of routine files, each from its documented layout: line
// ends, UDL files, routine output files of Cache and GT.M/YottaDB, XML
// exports and package folders, with their damaged forms refused at the file
// and line of the fault.
#include <gtest/gtest.h>

#include "dorpack/manifest.h"
#include "dorpack/package_writer.h"
#include "test_files.h"

namespace {

using dorpack::PackError;
using dorpack_test::Dos;
using dorpack_test::ScratchFolder;

// A file of the case: its path in the scratch folder and its bytes.
struct File {
  std::string path;
  std::string bytes;
};

struct Want {
  std::string name;
  std::vector<std::string> lines;  // UTF-8
};

struct Case {
  const char* what;
  std::vector<File> files;
  std::string routines;  // the manifest's "routines" value
  std::vector<Want> want{};
  // "file:line: message" (the file relative to the scratch folder); a
  // refusal must contain it. Empty: the manifest is packed.
  std::string refusal{};
  std::string warning{};  // a warning must contain it
};

// Loads and checks a manifest over the case's files, as a build would.
void RunCase(const Case& c) {
  SCOPED_TRACE(c.what);
  const ScratchFolder folder;
  for (const auto& f : c.files) folder.Write(f.path, f.bytes);
  const auto manifest = folder.Write(
      "m.json", R"({"product": "P", "version": "1", "build_date": "2", "password": "3", "routines": )" + c.routines + "}");
  dorpack::Warnings warnings;
  std::string refusal;
  dorpack::Package package;
  try {
    package = dorpack::LoadManifest(manifest, &warnings);
    dorpack::CheckPackage(package);
  } catch (const PackError& e) {
    refusal = e.what();
  }
  if (!c.refusal.empty()) {
    EXPECT_NE(refusal.find((folder.Path() / c.refusal).string()), std::string::npos) << refusal;
    return;
  }
  ASSERT_EQ(refusal, "");
  ASSERT_EQ(package.routines.size(), c.want.size());
  for (std::size_t i = 0; i < c.want.size(); ++i) {
    EXPECT_EQ(package.routines[i].name, c.want[i].name);
    std::vector<std::string> lines;
    for (const auto& line : c.want[i].lines) lines.push_back(Dos(line));
    EXPECT_EQ(package.routines[i].lines, lines) << c.want[i].name;
  }
  std::string said;
  for (const auto& w : warnings) said += w + "\n";
  if (c.warning.empty()) {
    EXPECT_EQ(said, "");
  } else {
    EXPECT_NE(said.find(c.warning), std::string::npos) << said;
  }
}

TEST(RoutineFormats, LineEndsAndNames) {
  const std::vector<Case> cases{
      {"CR LF ends lines", {{"VMA.int", "VMA ; а\r\n q\r\n"}}, R"(["VMA.int"])", {{"VMA", {"VMA ; а", " q"}}}},
      {"mixed, no final line end", {{"VMA.int", "VMA\n q\r\n w 1"}}, R"(["VMA.int"])", {{"VMA", {"VMA", " q", " w 1"}}}},
      {"an empty line with CR LF", {{"VMA.m", "\r\n"}}, R"(["VMA.m"])", {{"VMA", {""}}}},
      {"a lone CR inside a line", {{"VMA.int", "VMA\r\n w 1\r2\r\n"}}, R"(["VMA.int"])", {}, "VMA.int:2: возврат каретки (байт 13) внутри строки 2, в столбце 5"},
      {"a CR at the end of the file", {{"VMA.int", "VMA\n q\r"}}, R"(["VMA.int"])", {}, "VMA.int:2: возврат каретки"},
      {"two CRs before LF", {{"VMA.int", "VMA\r\r\n"}}, R"(["VMA.int"])", {}, "VMA.int:1: возврат каретки"},
      {"GT.M's _ gives %", {{"_VMLIB.m", "%VMLIB\n q\n"}}, R"(["_*.m"])", {{"%VMLIB", {"%VMLIB", " q"}}}},
      {".mac without macro syntax", {{"VMM.mac", "VMM\n q\n"}}, R"(["VMM.mac"])", {{"VMM", {"VMM", " q"}}}, "", "программа MAC VMM не содержит синтаксиса макросов"},
      {"a file of no known kind", {{"VMA.txt", "VMA\n"}}, R"(["VMA.txt"])", {}, "m.json:1: " },
  };
  for (const auto& c : cases) RunCase(c);
}

TEST(RoutineFormats, UdlFiles) {
  const std::vector<Case> cases{
      {"INT header", {{"VMA.int", "ROUTINE VMA [Type=INT]\nVMA ; первая\n q\n"}}, R"(["VMA.int"])", {{"VMA", {"VMA ; первая", " q"}}}},
      {"a byte order mark before the header", {{"VMA.int", "\xEF\xBB\xBFROUTINE VMA [Type=INT]\r\nVMA\r\n"}}, R"(["VMA.int"])", {{"VMA", {"VMA"}}}},
      {"more attributes, CR LF", {{"VMA.int", "ROUTINE VMA [Type=INT,Generated]\r\nVMA\r\n"}}, R"(["VMA.int"])", {{"VMA", {"VMA"}}}},
      {"dotted name", {{"My.Pkg.X.int", "ROUTINE My.Pkg.X [Type=INT]\n q\n"}}, R"(["My.Pkg.X.int"])", {{"My.Pkg.X", {" q"}}}},
      {"no type is MAC, no macro syntax", {{"VMA.int", "ROUTINE VMA\nVMA\n q\n"}}, R"(["VMA.int"])", {{"VMA", {"VMA", " q"}}}, "", "программа MAC VMA не содержит синтаксиса макросов"},
      {"INC without a header", {{"VMI.inc", "VMI\n q\n"}}, R"(["VMI.inc"])", {{"VMI", {"VMI", " q"}}}, "", "программа INC VMI не содержит синтаксиса макросов"},
      {"MAC with a directive", {{"VMA.mac", "ROUTINE VMA\nVMA\n#define X 1\n q\n"}}, R"(["VMA.mac"])", {}, "VMA.mac:3: программа MAC VMA — исходный текст с макросами (строка 2 содержит директиву «#define»)"},
      {"MAC with a macro", {{"VMA.int", "ROUTINE VMA [Type=MAC]\nVMA\n s x=$$$Max(1)\n"}}, R"(["VMA.int"])", {}, "VMA.int:3: программа MAC VMA — исходный текст с макросами (строка 2 содержит макрос «$$$Max»)"},
      {"a name that disagrees", {{"VMA.int", "ROUTINE VMB [Type=INT]\n q\n"}}, R"(["VMA.int"])", {}, "VMA.int:1: заголовок UDL называет программу VMB, а имя файла — VMA"},
      {"a name that is no name", {{"VMA.int", "ROUTINE 1VM [Type=INT]\n q\n"}}, R"(["VMA.int"])", {}, "VMA.int:1: заголовок UDL «ROUTINE 1VM [Type=INT]» называет «1VM», а это не имя программы"},
      {"no name", {{"VMA.int", "ROUTINE  [Type=INT]\n"}}, R"(["VMA.int"])", {}, "VMA.int:1: заголовок UDL «ROUTINE  [Type=INT]» не называет программу"},
      {"another type", {{"VMA.int", "ROUTINE VMA [Type=BAS]\n"}}, R"(["VMA.int"])", {}, "VMA.int:1: заголовок UDL «ROUTINE VMA [Type=BAS]» задаёт тип «BAS»; dorpack упаковывает программы типа INT, MAC и INC"},
      {"unclosed brackets", {{"VMA.int", "ROUTINE VMA [Type=INT\n"}}, R"(["VMA.int"])", {}, "VMA.int:1: заголовок UDL «ROUTINE VMA [Type=INT» содержит после имени программы текст, который не список атрибутов"},
      {".m files have no header", {{"VMA.m", "ROUTINE VMA [Type=INT]\n q\n"}}, R"(["VMA.m"])", {{"VMA", {"ROUTINE VMA [Type=INT]", " q"}}}},
  };
  for (const auto& c : cases) RunCase(c);
}

// The routine output layout of the utilities' manuals: two header lines; per
// routine a name line, its lines and an empty line; an empty line (GT.M:
// two) where the next name would be.
TEST(RoutineFormats, RoutineOutputFiles) {
  const std::string gtm = "Velmora routines\nGT.M 09-DEC-2026 10:20:31\n";
  const std::string cache = "Cache for UNIX^INT^Velmora^~Format=Cache.S~^RAW\r\n%RO on 09 Dec 2026  10:20 AM\r\n";
  const std::vector<Case> cases{
      {"GT.M", {{"all.ro", gtm + "%VMLIB\n%VMLIB ; lib\n q\n\nVMA\nVMA ; первая\n \n q\n\n\n\n"}}, R"(["all.ro"])", {{"%VMLIB", {"%VMLIB ; lib", " q"}}, {"VMA", {"VMA ; первая", " ", " q"}}}},
      {"Cache, CR LF", {{"all.rsa", cache + "VMA^INT^1^66087,37231.5^0\r\nVMA\r\n q\r\n\r\nVMB^INT^3^66087,37232^0\r\nVMB\r\n\r\n\r\n"}}, R"(["all.rsa"])", {{"VMA", {"VMA", " q"}}, {"VMB", {"VMB"}}}},
      {"no routines", {{"none.ro", gtm + "\n"}}, R"(["none.ro"])", {}},
      {"a .rtn with a GT.M header", {{"all.rtn", gtm + "VMA\n q\n\n\n"}}, R"(["all.rtn"])", {{"VMA", {" q"}}}},
      {"a .rtn with a YottaDB header", {{"all.rtn", "x\nYottaDB 09-DEC-2026 10:20:31\nVMA\n q\n\n\n"}}, R"(["all.rtn"])", {{"VMA", {" q"}}}},
      {"a .rtn with a Cache header", {{"all.rtn", cache + "VMA^INT^1^0^0\r\n q\r\n\r\n\r\n"}}, R"(["all.rtn"])", {{"VMA", {" q"}}}},
      {"a .rtn of one routine", {{"VMB.rtn", "VMB ; one\n q\n"}}, R"(["VMB.rtn"])", {{"VMB", {"VMB ; one", " q"}}}},
      {"MAC without macro syntax", {{"all.ro", cache + "VMM^MAC^1^0^0\r\n q\r\n\r\n\r\n"}}, R"(["all.ro"])", {{"VMM", {" q"}}}, "", "all.ro, программа 1 из 1: программа MAC VMM не содержит синтаксиса макросов"},
      {"MAC with a macro", {{"all.ro", cache + "VMA^INT^1^0^0\r\n q\r\n\r\nVMM^MAC^1^0^0\r\n q\r\n s x=$$$X\r\n\r\n\r\n"}}, R"(["all.ro"])", {}, "all.ro:8: программа MAC VMM — исходный текст с макросами"},
      {"cut inside a routine", {{"all.ro", gtm + "VMA\n q\n\nVMB\nVMB\n w 1"}}, R"(["all.ro"])", {}, "all.ro:9: файл кончается внутри программы VMB (её имя в строке 6) раньше пустой строки, которой она кончается"},
      {"cut between routines", {{"all.ro", gtm + "VMA\n q\n\n"}}, R"(["all.ro"])", {}, "all.ro:6: файл кончается после 1 программы без пустой строки, которой кончается файл вывода программ"},
      {"cut in the header", {{"all.ro", "Velmora routines\n"}}, R"(["all.ro"])", {}, "all.ro:2: файл кончается внутри двух строк заголовка"},
      {"text after the end", {{"all.ro", gtm + "VMA\n q\n\n\nVMB\n"}}, R"(["all.ro"])", {}, "all.ro:7: текст после пустой строки, которой кончаются программы"},
      {"a name line that is no name", {{"all.ro", gtm + "VMA\n q\n\nV-B\n q\n\n\n"}}, R"(["all.ro"])", {}, "all.ro:6: строка имени «V-B» не называет программу"},
      {"an object routine", {{"all.ro", cache + "VMA^OBJ^1^0^0\r\n\x01\r\n\r\n\r\n"}}, R"(["all.ro"])", {}, "all.ro:3: программа VMA — типа «OBJ»; dorpack упаковывает программы типа INT, MAC и INC"},
      {"a lone CR", {{"all.ro", gtm + "VMA\n q\rw\n\n\n"}}, R"(["all.ro"])", {}, "all.ro:4: возврат каретки"},
      {"a routine given twice", {{"all.ro", gtm + "VMA\n q\n\n\n"}, {"VMA.int", "VMA\n"}}, R"(["VMA.int", "all.ro"])", {}, "all.ro:3: программа дистрибутива VMA задана дважды (ещё и в "},
  };
  for (const auto& c : cases) RunCase(c);
}

TEST(RoutineFormats, XmlExports) {
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Export generator=\"Cache\" version=\"25\">\n";
  const std::string vma = "<Routine name=\"VMA\" type=\"INT\" languagemode=\"0\"><![CDATA[\nVMA ; первая\n w \"<]]]]><![CDATA[>\"\n q\n]]></Routine>\n";
  const std::vector<Case> cases{
      {"INT routines, base64, the rest skipped", {{"e.xml", head + vma +
          "<Class name=\"My.Cls\"><Super>%Persistent</Super></Class>\n<Global>^VM</Global>\n"
          "<RoutineBase64 name=\"VMB\" type=\"INT\">Vk1CCiB3ICIBIgoK\nIHEK</RoutineBase64>\n"
          "<Routine name=\"VMS\" type=\"BAS\"><![CDATA[x]]></Routine>\n</Export>\n"}}, R"(["e.xml"])",
          {{"VMA", {"VMA ; первая", " w \"<]]>\"", " q"}}, {"VMB", {"VMB", " w \"\x01\"", "", " q"}}},
          "", "e.xml: пропущены элементы экспорта, которые не программы INT, MAC или INC (3): Class My.Cls, Global, программа VMS типа BAS"},
      {"IRIS, CR LF, text on the CDATA line", {{"e.xml", "<Export generator=\"IRIS\">\r\n<Routine name=\"VMA\" type=\"INT\"><![CDATA[VMA\r\n q]]></Routine></Export>"}}, R"(["e.xml"])", {{"VMA", {"VMA", " q"}}}},
      {"windows-1251 prolog", {{"e.xml", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><Export generator=\"Cache\"><Routine name=\"VMA\" type=\"INT\"><![CDATA[\nVMA ; \xEF\xE5\xF0\xE2\xE0\xFF\n]]></Routine></Export>"}}, R"(["e.xml"])", {{"VMA", {"VMA ; первая"}}}},
      {"MAC without macro syntax", {{"e.xml", head + "<Routine name=\"VMM\" type=\"MAC\"><![CDATA[\n q\n]]></Routine></Export>"}}, R"(["e.xml"])", {{"VMM", {" q"}}}, "", "программа MAC VMM не содержит синтаксиса макросов"},
      {"MAC with a directive", {{"e.xml", head + "<Routine name=\"VMM\" type=\"MAC\"><![CDATA[\nVMM\n#include VMINC\n]]></Routine></Export>"}}, R"(["e.xml"])", {}, "e.xml:5: программа MAC VMM — исходный текст с макросами (строка 2 содержит директиву «#include»)"},
      {"a CDATA section that never closes", {{"e.xml", head + "<Routine name=\"VMA\" type=\"INT\"><![CDATA[\nVMA\n q\n</Routine></Export>\n"}}, R"(["e.xml"])", {}, "e.xml:3: не правильный файл XML: раздел CDATA программы VMA, открытый здесь, не закрывается (незакрытый раздел CDATA)"},
      {"cut in the middle", {{"e.xml", head + vma.substr(0, 40)}}, R"(["e.xml"])", {}, "e.xml:3: не правильный файл XML: "},
      {"another generator", {{"e.xml", "<Export generator=\"Other\"></Export>"}}, R"(["e.xml"])", {}, "e.xml:1: экспорт создан «Other»; dorpack читает экспорты Cache и IRIS"},
      {"not an export", {{"e.xml", "<Routines/>"}}, R"(["e.xml"])", {}, "e.xml:1: документ — <Routines>, а не <Export> программ"},
      {"a name that is no name", {{"e.xml", head + "<Routine name=\"V_A\" type=\"INT\"><![CDATA[ q]]></Routine></Export>"}}, R"(["e.xml"])", {}, "e.xml:3: <Routine name=\"V_A\"> — не имя программы"},
      {"no type", {{"e.xml", head + "<Routine name=\"VMA\"><![CDATA[ q]]></Routine></Export>"}}, R"(["e.xml"])", {}, "e.xml:3: у программы VMA (строка 3) не задан тип (INT, MAC или INC)"},
      {"a character code page 866 lacks", {{"e.xml", head + "<Routine name=\"VMA\" type=\"INT\"><![CDATA[\nVMA\n w \"★\"\n]]></Routine></Export>"}}, R"(["e.xml"])", {}, "e.xml:5: символ «★», которого нет в кодовой странице 866, — байт 5 текста (файл читается как UTF-8"},
      {"bad base64", {{"e.xml", head + "<RoutineBase64 name=\"VMB\" type=\"INT\">Vk1C*</RoutineBase64></Export>"}}, R"(["e.xml"])", {}, "e.xml:3: текст <RoutineBase64 name=\"VMB\"> — не base64"},
      {"a document type", {{"e.xml", "<!DOCTYPE Export [<!ENTITY a \"aaaa\">]><Export generator=\"Cache\"></Export>"}}, R"(["e.xml"])", {}, "e.xml:1: объявление типа документа, которого в экспорте программ не бывает"},
  };
  for (const auto& c : cases) RunCase(c);
}

TEST(RoutineFormats, PackageFolders) {
  const std::vector<File> tree{{"src/My/Pkg/X.int", "ROUTINE My.Pkg.X [Type=INT]\nX\n"},
                               {"src/My/Y.int", "Y\n"},
                               {"src/_VMLIB.int", "L\n"},
                               {"src/Top.int", "T\n"},
                               {"src/My/notes.txt", "n\n"}};
  const std::vector<Case> cases{
      {"everything below the root", tree, R"([{"root": "src", "files": "**/*.int"}])",
       {{"My.Pkg.X", {"X"}}, {"My.Y", {"Y"}}, {"Top", {"T"}}, {"%VMLIB", {"L"}}}},
      {"one folder down", tree, R"([{"root": "src", "files": "My/*.int"}])", {{"My.Y", {"Y"}}}},
      {"any depth below a folder", tree, R"([{"root": "src", "files": "My/**/*.int"}])", {{"My.Pkg.X", {"X"}}, {"My.Y", {"Y"}}}},
      {"a header that disagrees with the folders", {{"src/My/Pkg/X.int", "ROUTINE X [Type=INT]\n"}}, R"([{"root": "src", "files": "**/*.int"}])", {}, "src/My/Pkg/X.int:1: заголовок UDL называет программу X, а имя файла — My.Pkg.X"},
      {"a folder that is no name part", {{"src/my-pkg/X.int", "X\n"}}, R"([{"root": "src", "files": "**/*.int"}])", {}, "src/my-pkg/X.int: «my-pkg.X» — неверное имя программы"},
      {"nothing matches", tree, R"([{"root": "src", "files": "**/*.mac"}])", {}, "m.json:1: шаблону «**/*.mac» не отвечает ни один файл в папке "},
      {"no root folder", tree, R"([{"root": "lib", "files": "**/*.int"}])", {}, "m.json:1: корень "},
      {"an unknown field", tree, R"([{"root": "src", "files": "*.int", "depth": 2}])", {}, "m.json:1: неизвестное поле «depth»"},
      {"no files", tree, R"([{"root": "src"}])", {}, "m.json:1: элементу папки пакета нужно поле «files»"},
  };
  for (const auto& c : cases) RunCase(c);
}

}  // namespace
