// The window's command behind "校验固件程序": an image file's checksum stamped into its version
// block, the file rewritten whole with the length it had.
#pragma once

#include <string>

#include "device/failure.h"
#include "presenters/window.h"

namespace obrint::presenters {

// Stamps the file at `path`, showing how it went while the file is still open. Failures:
// kFileNotOpened (nothing shown); kImageTooLarge or kNoVersionBlock (refused, the file
// untouched); kNoMemory, kFileUnreadable or kFileWriteFailed (a failure box).
Status StampImageFile(FileSystem& files, UserInterface& ui, const std::string& path);

// Asks for an image file and stamps it; Failure::kCancelled when none was chosen.
Status StampImageChecksum(FileSystem& files, UserInterface& ui);

}  // namespace obrint::presenters
