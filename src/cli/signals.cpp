#include "cli/signals.h"

#include <csignal>

namespace obrint::cli {
namespace {

std::atomic<int> gInterrupts{0};
std::atomic<int> gEnding{0};

extern "C" void OnSignal(int signal) {
  if (signal == SIGINT) {
    if (gInterrupts.fetch_add(1) > 0) gEnding = SIGINT;
    std::signal(SIGINT, OnSignal);  // Windows resets the handler before calling it
    return;
  }
  gEnding = signal;
}

// The signals that end a run, with the handlers they had before.
#ifdef _WIN32
constexpr int kSignals[] = {SIGINT, SIGTERM};
#else
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif
using Handler = void (*)(int);
Handler gPrevious[std::size(kSignals)];

}  // namespace

SignalWatch::SignalWatch() {
  gInterrupts = 0;
  gEnding = 0;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    gPrevious[i] = std::signal(kSignals[i], OnSignal);
  }
}

SignalWatch::~SignalWatch() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    std::signal(kSignals[i], gPrevious[i] == SIG_ERR ? SIG_DFL : gPrevious[i]);
  }
}

int SignalWatch::interrupts() const { return gInterrupts.load(); }
int SignalWatch::ending() const { return gEnding.load(); }

void SignalWatch::Raise(int signal) { OnSignal(signal); }

}  // namespace obrint::cli
