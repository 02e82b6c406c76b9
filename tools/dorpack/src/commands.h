// The subcommands of dorpack. Each returns the process exit status:
// 0 done, 1 refused (bad manifest, damaged file), 2 wrong command line.
#pragma once

#include <string>
#include <vector>

namespace dorpack {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;

int RunBuild(const std::vector<std::string>& args);
int RunList(const std::vector<std::string>& args);
int RunExtract(const std::vector<std::string>& args);

}  // namespace dorpack
