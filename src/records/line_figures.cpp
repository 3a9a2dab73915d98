#include "records/line_figures.h"

#include <utility>

namespace obrint::records {

HeadsetYield YieldOf(std::uint64_t headsets, std::uint64_t flashed) {
  HeadsetYield yield{headsets, flashed, std::nullopt};
  if (headsets > 0) {
    yield.yieldPercent = 100.0 * static_cast<double>(flashed) / static_cast<double>(headsets);
  }
  return yield;
}

std::optional<double> HeadsetsPerHour(std::uint64_t flashed, std::uint64_t hours) {
  if (hours == 0) return std::nullopt;
  return static_cast<double>(flashed) / static_cast<double>(hours);
}

DurationFigures DurationsOf(const DurationHistogram& durations, std::vector<DurationBin> bins) {
  return {durations.count(), durations.Median(), durations.P95(), std::move(bins)};
}

}  // namespace obrint::records
