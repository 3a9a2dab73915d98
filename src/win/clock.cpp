#include "win/clock.h"

#include <mmsystem.h>

namespace obrint::win {

Win32Clock::Win32Clock() {
  TIMECAPS caps{};
  if (::timeGetDevCaps(&caps, sizeof caps) == MMSYSERR_NOERROR &&
      ::timeBeginPeriod(caps.wPeriodMin) == TIMERR_NOERROR) {
    timerResolutionMs_ = caps.wPeriodMin;
  }
  LARGE_INTEGER frequency{};
  ::QueryPerformanceFrequency(&frequency);
  ticksPerSecond_ = frequency.QuadPart;
}

Win32Clock::~Win32Clock() {
  if (timerResolutionMs_ != 0) ::timeEndPeriod(timerResolutionMs_);
}

void Win32Clock::Sleep(unsigned ms) {
  LARGE_INTEGER start{};
  ::QueryPerformanceCounter(&start);
  // Whole counter ticks, rounded up, so that the wait is never a fraction short.
  const LONGLONG wait = (static_cast<LONGLONG>(ms) * ticksPerSecond_ + 999) / 1000;
  for (;;) {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const LONGLONG left = wait - (now.QuadPart - start.QuadPart);
    if (left <= 0) return;
    ::SleepEx(static_cast<DWORD>((left * 1000 + ticksPerSecond_ - 1) / ticksPerSecond_), TRUE);
  }
}

}  // namespace obrint::win
