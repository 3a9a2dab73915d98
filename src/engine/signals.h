// The process's signals as stop requests (host.h): SIGINT, SIGTERM and SIGHUP; on Windows the
// console's Ctrl+C (SIGINT), Ctrl+Break (SIGBREAK) and its closing, a logoff or a shutdown (as
// SIGHUP, 1). A command ends at the first with 128 + its number, unless a flashing run took them.
#pragma once

#include <atomic>

#include "engine/host.h"

namespace obrint::engine {

// The handlers (posix/signals.cpp, win/signals.cpp) stand for the life of the one object.
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

// A clock whose waits end early once a signal has come.
class SignalClock : public Clock {
 public:
  SignalClock(Clock& clock, const SignalWatch& signals) : clock_(clock), signals_(signals) {}
  void Sleep(unsigned ms) override;

 private:
  Clock& clock_;
  const SignalWatch& signals_;
};

}  // namespace obrint::engine
