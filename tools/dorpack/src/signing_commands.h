// dorpack's commands for the publisher's signature: a key pair in
// minisign's format, the signature of a distribution folder, and a build
// that signs the folder it writes into. Exit statuses as in commands.h.
#pragma once

#include <string>
#include <vector>

namespace dorpack {

int RunKeygen(const std::vector<std::string>& args);
int RunSign(const std::vector<std::string>& args);
// `dorpack build ... --sign SECRET`: the build, then the signature of the
// output's folder once the data file is written.
int RunSignedBuild(const std::vector<std::string>& args);
bool AsksForSignature(const std::vector<std::string>& buildArgs);

}  // namespace dorpack
