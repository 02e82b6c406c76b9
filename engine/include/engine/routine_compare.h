// How a routine of the distribution stands on the server, found in one
// server call per routine: the server sums the stored source's lines with
// $ZCRC (mode 7, CRC-32) and answers only whether they equal the sum sent
// to it, or else the sums of its lines, from which the lines added and
// removed are counted here. The text itself never crosses the link.
//
// Server code used (with P1 the routine name, P2 the expected sum):
// ^ROUTINE(name,0,0) the line count and ^ROUTINE(name,0,n) the lines of the
// source, ^rOBJ(name) the object the routine runs from, and $TEXT(+0^name),
// which names a routine only when it can be loaded.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/server_link.h"

namespace dorvik {

// The server refused a call of these commands; the message is its error text.
class ServerCallError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class RoutineState {
  New,            // not on the server
  Unchanged,      // its source equals the distribution's text
  Changed,        // its source differs (see added/removed)
  WithoutSource,  // on the server and loads, but keeps no source to compare with
  DoesNotLoad,    // an object without source that cannot be loaded
};

struct RoutineComparison {
  RoutineState state = RoutineState::New;
  int added = 0;    // lines of the distribution not in the server's source
  int removed = 0;  // lines of the server's source not in the distribution
};

// CRC-32 as $ZCRC(bytes, 7, seed) computes it on the server.
std::uint32_t Crc32(std::string_view bytes, std::uint32_t seed = 0);

// The sums of lines[1..], as the server lists them: each in decimal and
// followed by ",".
std::string LineSums(const std::vector<std::string>& lines);

// Compares routine lines[0] (a checked routine name) with lines[1..].
// Throws ServerCallError when the server refuses the call; a failure of the
// link itself passes on.
RoutineComparison CompareRoutine(ServerLink& link, const std::vector<std::string>& lines);

// Lines added and removed between two texts given as their lines' sums: the
// lines outside their longest common subsequence.
void CountLineChanges(const std::vector<std::uint32_t>& before, const std::vector<std::uint32_t>& after, int& added,
                      int& removed);

// Runs one command line; throws ServerCallError with the server's error text.
void RunServerLine(ServerLink& link, const std::string& code);

}  // namespace dorvik
