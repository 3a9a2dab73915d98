// Ctrl+C and the signals that end a process, as a flashing run sees them. The first Ctrl+C asks
// the run to wind down: no headset starts any more, those under way finish. A second Ctrl+C,
// SIGTERM or SIGHUP ends it at once, once every headset has its record.
#pragma once

#include <atomic>

namespace obrint::cli {

// The handlers are installed for the life of the object (one at a time).
class SignalWatch {
 public:
  SignalWatch();
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // Ctrl+C presses so far.
  int interrupts() const;
  // The signal that ends the process: 0 while none came.
  int ending() const;
  // The exit status for it: 128 + its number (130 for Ctrl+C).
  static int ExitStatusFor(int signal) { return 128 + signal; }

  // For tests: as if the signal had come.
  static void Raise(int signal);
};

}  // namespace obrint::cli
