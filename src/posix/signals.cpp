// POSIX: SIGINT, SIGTERM and SIGHUP, each with the handler it had before given back after.
#include <csignal>
#include <iterator>

#include "engine/signals.h"

namespace obrint::engine {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
using Handler = void (*)(int);
Handler gPrevious[std::size(kSignals)];

extern "C" void OnSignal(int signal) { SignalWatch::Raise(signal); }

}  // namespace

void SignalWatch::Install() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    gPrevious[i] = std::signal(kSignals[i], OnSignal);
  }
}

void SignalWatch::Restore() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    std::signal(kSignals[i], gPrevious[i] == SIG_ERR ? SIG_DFL : gPrevious[i]);
  }
}

}  // namespace obrint::engine
