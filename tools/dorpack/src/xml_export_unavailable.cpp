// The Windows build has no XML parser: no XML library is packaged for MinGW,
// and a second parser (the system's XmlLite) would read damaged exports
// differently from the Linux build. It says so instead of guessing.
#include "xml_export.h"

namespace dorpack {

std::vector<RoutineSpec> ReadXmlExport(std::string_view, const std::string& file, RoutineEncoding, Warnings*) {
  throw PackError(file +
                  ": XML exports are read by dorpack on Linux only; pack this distribution on Linux, or export the "
                  "routines as .int files or a routine output file (.ro)");
}

}  // namespace dorpack
