// Subscript key codec: turns a variable name and its subscripts into one byte
// string whose plain byte order (memcmp, shorter first on a common prefix) is
// M collation, and back.
//
// Layout of a key:
//   name bytes, 0x00, then one encoded subscript after another.
//
// Encoded subscript (each one is self-delimiting and no encoded subscript is a
// prefix of another, so byte order compares subscript by subscript):
//   0x3F E1 E0 d... 0xFF   negative canonical number: exponent and digits
//                           inverted, so larger magnitudes sort first
//   0x40                   the number 0
//   0x41 E1 E0 d... 0x00   positive canonical number
//   0x80 b... 0x00         string; byte 0x00 is written 0x01 0x01 and byte
//                           0x01 is written 0x01 0x02
// A number is written as 0.d1d2d3... * 10^E with d1 != 0 and no trailing zero
// digit; E + 0x8000 is stored big-endian in two bytes (E1 E0), each digit d as
// the byte '0' + d (negative numbers: the bitwise complement of both).
//
// A string is taken as a number exactly when it is an M canonical number
// ("12", "-3.5", ".25"; not "012", "1.0", "-0", "1E3", "+1").
//
// Consequences a store may rely on:
//  * every descendant of a node has the node's key as a byte prefix, and every
//    key with that prefix (and longer) is a descendant;
//  * key + kPastDescendants sorts after every descendant of key and before
//    the next sibling, so "the next sibling of key" is the first stored key
//    greater than key + kPastDescendants;
//  * keys of different names never share a prefix relation.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mengine::keycodec {

// Appended to a key it gives a bound past all of the key's descendants.
inline constexpr char kPastDescendants = '\xFF';

// Longest key a global may have (a persistent store may rely on it).
inline constexpr std::size_t kMaxGlobalKeyBytes = 511;

// True when s is an M canonical number.
bool IsCanonicalNumber(std::string_view s);

// name + 0x00: the key of the unsubscripted variable.
std::string EncodeName(std::string_view name);

// Appends one subscript (an M value as its string form) to key.
void AppendSubscript(std::string& key, std::string_view subscript);

// Appends a canonical number given as its significant digits (no leading or
// trailing zero) and exponent E, value = 0.digits * 10^E; digits empty is 0.
void AppendNumberSubscript(std::string& key, bool negative, std::string_view digits, int exponent);

// Full key of name(subscripts...).
std::string Encode(std::string_view name, std::span<const std::string> subscripts);

// Length of the name part including its 0x00 terminator; 0 when malformed.
std::size_t NameLength(std::string_view key);

// Byte length of the encoded subscript starting at key[pos]; 0 when malformed.
std::size_t SubscriptLength(std::string_view key, std::size_t pos);

// Decodes the encoded subscript at key[pos] into its M string form.
std::optional<std::string> DecodeSubscript(std::string_view key, std::size_t pos);

// Splits a whole key back into name and subscripts; false when malformed.
bool Decode(std::string_view key, std::string& name, std::vector<std::string>& subscripts);

// Number of subscripts in a well-formed key.
std::size_t SubscriptCount(std::string_view key);

// Key of the parent node (the last subscript dropped); the key itself when it
// has no subscript.
std::string_view Parent(std::string_view key);

// The key of the child of `parent` that lies on the path to `descendant`
// (parent + the first subscript of descendant after parent). `descendant`
// must start with `parent` and be longer.
std::string_view ChildOnPath(std::string_view parent, std::string_view descendant);

}  // namespace mengine::keycodec
