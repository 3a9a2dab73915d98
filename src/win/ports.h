// The headset operations' ports over Win32 that the window and obrint-cli share: image
// files, fixed waits and the open-file dialog for firmware images.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "core/ports.h"

namespace obrint::win {

// Image files through CreateFileW, never shared while open: for reading (the upgrade) or for
// reading and writing (the checksum stamp).
class Win32FileSystem : public FileSystem {
 public:
  std::unique_ptr<ImageFile> OpenForReading(const std::string& path) override;
  std::unique_ptr<ImageFile> OpenForUpdate(const std::string& path) override;
};

// Alertable sleeps; a sleep that an APC cuts short goes on until the full time has passed.
class Win32Clock : public Clock {
 public:
  void Sleep(unsigned ms) override;
};

// The open-file dialog for a firmware image, owned by `owner`, offering "bin" (*.bin) and
// "All" (*.*), with an empty file name. The chosen path in UTF-8; empty when cancelled.
std::string ChooseFirmwareImage(HWND owner);

}  // namespace obrint::win
