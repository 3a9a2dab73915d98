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

// Fixed waits that last at least what they say, measured on the performance counter: a sleep
// that an APC or the scheduler's tick cuts short goes on until the full time has passed. While
// the clock exists the system timer runs at its finest resolution, so that a 10 ms wait lasts
// about 10 ms and not a whole 15.6 ms tick; create one for the duration of a headset operation.
class Win32Clock : public Clock {
 public:
  Win32Clock();
  ~Win32Clock() override;
  Win32Clock(const Win32Clock&) = delete;
  Win32Clock& operator=(const Win32Clock&) = delete;

  void Sleep(unsigned ms) override;

 private:
  UINT timerResolutionMs_ = 0;  // 0: the resolution was not raised
  LONGLONG ticksPerSecond_ = 0;
};

// The open-file dialog for a firmware image, owned by `owner`, offering "bin" (*.bin) and
// "All" (*.*), with an empty file name. The chosen path in UTF-8; empty when cancelled.
std::string ChooseFirmwareImage(HWND owner);

}  // namespace obrint::win
