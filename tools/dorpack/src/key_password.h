// The password of a maker's secret key: asked on the terminal with echo off,
// or, when standard input is no terminal (a build server, a test), its first
// line, as minisign takes it.
#pragma once

#include <optional>
#include <string>

namespace dorpack {

// Nothing when the input ends before a line.
std::optional<std::string> ReadKeyPassword(const std::string& prompt);

}  // namespace dorpack
