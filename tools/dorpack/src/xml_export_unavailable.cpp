// The Windows build has no XML parser: no XML library is packaged for MinGW,
// and a second parser (the system's XmlLite) would read damaged exports
// differently from the Linux build. It says so instead of guessing.
#include "xml_export.h"

namespace dorpack {

std::vector<RoutineSpec> ReadXmlExport(std::string_view, const std::string& file, RoutineEncoding, Warnings*) {
  throw PackError(file +
                  ": экспорты XML dorpack читает только в Linux; упакуйте этот дистрибутив в Linux или выгрузите "
                  "программы файлами .int или файлом вывода программ (.ro)");
}

}  // namespace dorpack
