#include "engine/signals.h"

#include <algorithm>
#include <csignal>

namespace obrint::engine {
namespace {

// How often a wait looks whether a signal has come.
constexpr unsigned kSleepStepMs = 20;

// Lock-free: a handler sets them.
std::atomic<int> gInterrupts{0};
std::atomic<int> gEnding{0};
std::atomic<int> gFirst{0};
std::atomic<bool> gTakenOver{false};

}  // namespace

SignalWatch::SignalWatch() {
  gInterrupts = 0;
  gEnding = 0;
  gFirst = 0;
  gTakenOver = false;
  Install();
}

SignalWatch::~SignalWatch() { Restore(); }

int SignalWatch::interrupts() const { return gInterrupts.load(); }
int SignalWatch::ending() const { return gEnding.load(); }
int SignalWatch::first() const { return gFirst.load(); }
void SignalWatch::TakeOver() { gTakenOver = true; }
bool SignalWatch::takenOver() const { return gTakenOver.load(); }

void SignalWatch::Raise(int signal) {
  int none = 0;
  gFirst.compare_exchange_strong(none, signal);
  if (signal == SIGINT) {
    if (gInterrupts.fetch_add(1) > 0) gEnding = SIGINT;
    return;
  }
  gEnding = signal;
}

void SignalClock::Sleep(unsigned ms) {
  while (ms > 0 && signals_.first() == 0) {
    const unsigned step = std::min(ms, kSleepStepMs);
    clock_.Sleep(step);
    ms -= step;
  }
}

}  // namespace obrint::engine
