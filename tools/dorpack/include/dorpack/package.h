// The content of a distribution before it is packed: every text already in
// the bytes the data file carries (code page 866 for display texts and
// routines), each remembering where it came from so that a refusal can name
// the file and line.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace dorpack {

// Where a text was written: a file and a line counted from 1. A package made
// in memory may leave both empty.
struct Origin {
  std::string file;
  int line = 0;
};

// "file:line" ("file" without a line); empty when the origin is unknown.
std::string Describe(const Origin& origin);
// Describe(origin) + ": " as the start of a message, or "" when unknown.
std::string Where(const Origin& origin);

struct PackText {
  std::string bytes;
  Origin origin;
};

struct PostActionSpec {
  PackText description;  // shown to the user
  PackText label;        // called on the server as $$label
};

struct RoutineSpec {
  std::string name;
  std::vector<std::string> lines;  // without the name line and without line ends
  // Where the routine came from: its file, and line i of `lines` (from 0) is
  // line firstLine + i of that file. A file that holds several routines (a
  // routine output file, an XML export) also gives the routine's place in it
  // (number 2 of count 5) and the line that names it; count 0 means a file
  // of one routine.
  std::string file;
  int firstLine = 1;
  int nameLine = 0;
  std::size_t placeNumber = 0;
  std::size_t placeCount = 0;
};

// "file:line" of a routine's line i (from 0), or "file" / "программа NAME"
// when the file is unknown.
Origin LineOrigin(const RoutineSpec& routine, std::size_t i);

// "программа 2 из 5": a routine's place in a file of several; empty for a
// file of one routine.
std::string PlaceText(const RoutineSpec& routine);
// Where a routine comes from for a message: its file, with its place in a
// file of several ("src/all.ro, программа 2 из 5").
std::string FileAndPlace(const RoutineSpec& routine);

struct Package {
  PackText product;
  PackText version;
  PackText buildDate;
  PackText password;
  std::optional<std::uint8_t> key;  // empty: choose one that fits the content
  Origin keyOrigin;
  PackText checkLabel;  // empty: the distribution has no pre-action
  std::vector<RoutineSpec> checkRoutines;
  std::vector<PostActionSpec> postActions;
  std::vector<RoutineSpec> routines;
};

// Things a maker should know that do not stop the packing (a MAC routine
// taken as INT code, items of an XML export that are not routines).
using Warnings = std::vector<std::string>;

// The package cannot be packed as given; the message names the file and line
// ("file:line: " and the reason, in Russian).
class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace dorpack
