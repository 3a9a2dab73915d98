// The window's open-file dialog for a firmware image.
#pragma once

#include <windows.h>

#include <string>

namespace obrint::win {

// The open-file dialog owned by `owner`, offering "bin" (*.bin), selected at first, and "All"
// (*.*), with an empty file name. The chosen path in UTF-8; empty when cancelled.
std::string ChooseFirmwareImage(HWND owner);

}  // namespace obrint::win
