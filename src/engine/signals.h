// The process's signals as stop requests: SIGINT, SIGTERM and SIGHUP; on Windows the console's
// Ctrl+C (SIGINT), Ctrl+Break (SIGBREAK) and its closing, a logoff or a shutdown (as SIGHUP, 1). A
// command ends at the first of them with 128 + its number. A flashing run takes them over: the
// first Ctrl+C asks it to wind down (no headset starts any more, those under way finish); a second
// Ctrl+C, or another signal, ends it at once, once every headset has its record.
#pragma once

#include <atomic>

#include "device/clock.h"
#include "engine/host.h"

namespace obrint::engine {

// The handlers are installed for the life of the object (one at a time): posix/signals.cpp and
// win/signals.cpp.
class SignalWatch : public StopRequests {
 public:
  SignalWatch();
  ~SignalWatch() override;
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  int interrupts() const override;
  int ending() const override;
  // The first signal, which ends any command that no flashing run took over.
  int first() const override;
  // A flashing run decides from now on how the command ends.
  void TakeOver();
  bool takenOver() const;
  // As if the signal had come: the platform's handler calls it, and tests do.
  static void Raise(int signal);

 private:
  static void Install();
  static void Restore();
};

// A clock whose waits end early once a signal has come, so that no command's wait outlasts it.
class SignalClock : public Clock {
 public:
  SignalClock(Clock& clock, const SignalWatch& signals) : clock_(clock), signals_(signals) {}
  void Sleep(unsigned ms) override;

 private:
  Clock& clock_;
  const SignalWatch& signals_;
};

}  // namespace obrint::engine
