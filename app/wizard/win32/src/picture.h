// Pictures decoded by the Windows Imaging Component (Windows' own JPEG
// decoder, and whatever other formats the system knows).
#pragma once

#include <windows.h>

#include <filesystem>

namespace dorvik::win {

// A 32-bit top-down DIB section of the picture; the caller deletes it.
// Throws std::runtime_error naming the file when it cannot be opened or is
// not a readable picture. Needs COM initialised on the calling thread.
HBITMAP DecodePicture(const std::filesystem::path& file);

}  // namespace dorvik::win
