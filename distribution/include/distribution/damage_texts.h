// The reasons the installer gives for a damaged data file, in Russian (code
// page 1251), spelled here once: the reader, the stages and the start-up
// show and log the same words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dorvik::damage {

// The parts of the body a reason can name.
inline constexpr std::string_view kPassword = "пароль исходных текстов";
inline constexpr std::string_view kCheckLabel = "метка проверки";
inline constexpr std::string_view kPostActionList = "список последействий";
inline constexpr std::string_view kCheckRoutine = "программа проверки или пустая запись после них";
inline constexpr std::string_view kIgnoredRecord = "запись после пустой записи программ проверки";

// "the file ends at offset N inside a field or record (no separator)"
std::string Cut(std::int64_t fileSize);
// The file ends at `offset` where the record `what` (one of the k… above,
// UTF-8) must begin.
std::string EndsBefore(std::int64_t offset, std::string_view what);
// A header field (or the password) that the end of the file cuts off or
// leaves out; an empty one; an empty password.
std::string FieldCut(std::int64_t fileSize, std::string_view field);
std::string EmptyHeaderField(std::string_view field, std::int64_t offset);
std::string NoPassword(std::int64_t offset);
std::string ZeroByte(std::int64_t offset);
std::string Oversize(std::size_t limit);
// Text after a routine's last line end.
std::string LineCutOff(std::string_view routine, std::size_t bytes);

std::string MarkerUnreadable(std::string_view why);
// The marker's counts against what the file holds.
std::string SealedCut(std::int64_t fileSize, std::int64_t expectedSize, std::int64_t routines,
                      std::int64_t expectedRoutines, std::int64_t checkRoutines, std::int64_t expectedCheckRoutines);
std::string CountsChanged(std::int64_t routines, std::int64_t expectedRoutines, std::int64_t checkRoutines,
                          std::int64_t expectedCheckRoutines);
// Every record is there, but the file is longer (delta > 0) or shorter.
std::string SizeChanged(std::int64_t delta);
std::string DigestChanged();
// The file's marker reads only with another key than the file's key byte.
std::string KeyChanged();

std::string PostActionWithoutPair();
std::string PostActionUnfit(int number);
std::string CheckLabelNotEntry();
std::string RoutineWithoutName();
std::string HeaderUnreadable();

}  // namespace dorvik::damage
