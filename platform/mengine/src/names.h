// Names of intrinsic functions, special variables and commands, with their
// abbreviations (case-insensitive).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "ast.h"

namespace mengine {

enum class Fn : std::uint8_t {
  Ascii,
  Char,
  Data,
  Extract,
  Find,
  FNumber,
  Get,
  Increment,
  Justify,
  Length,
  Name,
  Order,
  Piece,
  QLength,
  QSubscript,
  Query,
  Random,
  Reverse,
  Select,
  Text,
  Translate,
  ZConvert,
  ZDate,
  ZDateH,
  ZTime,
  ZTimeH,
  ListBuild,
  List,
  ListLength,
  ListGet,
  ListFind,
  ListData,
  ZU,
  Stack,
  Case,
  ZAbs,
  ZHex,
  ZStrip,
  ZBoolean,
  View,
  ZName,
  ZSearch,
  ZPosition,
  ZWidth,
  IsObject,
  ZLAscii,
  ZLChar,
  Factor,
  ZSqr,
  ListValid,
  ZCRC,
  ZWAscii,
  ZWChar,
  ZDateTime
};

enum class Sv : std::uint8_t {
  Horolog,
  IO,
  Job,
  Test,
  X,
  Y,
  Stack,
  ZError,
  ZTrap,
  ZNspace,
  ZVersion,
  ZHorolog,
  ZTimestamp,
  Principal,
  ZName,
  Quit,
  Storage,
  ZChild,
  ZParent,
  ZReference,
  Device,
  Key,
  ZA,
  ZB,
  ZEof,
  ZJob,
  ZPos,
  ETrap,
  ECode,
  EStack,
  ZTimezone,
  ZMode,
  TLevel,
  Halt,
  ZStorage,
  System,
  TRestart
};

std::optional<Fn> LookupFunction(std::string_view name);
std::optional<Sv> LookupSpecial(std::string_view name);
std::optional<Cmd> LookupCommand(std::string_view name);

// A small number (from 1) for each distinct variable name, the same in every
// process: the interpreter finds variables by it without hashing the name.
std::uint32_t InternName(std::string_view name);

}  // namespace mengine
