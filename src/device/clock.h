// Fixed waits: the headset is paced by them, not by its answers.
#pragma once

namespace obrint {

class Clock {
 public:
  virtual ~Clock() = default;
  // Lasts at least `ms` milliseconds.
  virtual void Sleep(unsigned ms) = 0;
};

}  // namespace obrint
