// A read of the whole distribution on a reader of its own, for the commands
// that look at it without installing it (plan, verify, backup): the check
// label, the post-actions, and every check and distribution routine.
//
// The session's reader is not touched, so an installation can follow in the
// same run. Throws DamagedFileError when the file cannot be read as a
// distribution (the message says why, in code page 1251), and its subclass
// DistributionStructureError when the post-action list is malformed (the
// check stage's "structure" fault); std::system_error on an I/O failure.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "distribution/reader.h"

namespace dorvik {

class DistributionStructureError : public DamagedFileError {
 public:
  using DamagedFileError::DamagedFileError;
};

struct DistributionOutline {
  std::string checkLabel;
  std::vector<std::string> postActionDescriptions;  // code page 1251
  std::vector<std::string> postActionLabels;
};

enum class RoutineSection { Check, Distribution };

// lines[0] is the routine's name (as stored, not checked); lines[1..] its
// lines in code page 866. A record without lines gives an empty vector.
using RoutineVisitor = std::function<void(RoutineSection, const std::vector<std::string>& lines)>;

// Reads the data file in the order the installation does and calls `visit`
// for every routine record, check routines first.
DistributionOutline ScanDistribution(const std::filesystem::path& dataFile, const RoutineVisitor& visit);

// The names of the routines an installation of `dataFile` may store: the
// check routines and the distribution's routines, each once, in file order.
// Records whose name is not a routine name are left out (the installation
// stops at them).
std::vector<std::string> RoutineNames(const std::filesystem::path& dataFile);

}  // namespace dorvik
