// The clock of the headset operations in the window and obrint-cli on Windows: fixed waits
// measured on the performance counter.
#pragma once

#include <windows.h>

#include "device/clock.h"

namespace obrint::win {

// Fixed waits that last at least what they say, even when an APC cuts a sleep short. While the
// clock exists the system timer runs at its finest resolution, so that a 10 ms wait lasts about
// 10 ms and not a whole 15.6 ms tick: create one for the duration of a headset operation.
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

}  // namespace obrint::win
