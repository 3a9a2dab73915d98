#include "engine/station.h"

namespace obrint::engine {

void StationTotals::Count(const StationEvent& event, Clock::time_point now) {
  using K = StationEvent::Kind;
  if (event.kind == K::kArrival) ++arrived;
  if (event.kind == K::kStart && !firstStart_) firstStart_ = now;
  if (event.kind == K::kSkip && event.flashedAt) ++skipped;
  if (event.kind != K::kDone) return;
  const HeadsetRecord& record = *event.record;
  const records::RunOutcome outcome = record.outcome();
  if (outcome == records::RunOutcome::kNotStarted) {
    ++leftAlone;
    return;
  }
  outcome == records::RunOutcome::kFlashed ? ++flashed : ++failed;
  if (record.ending.failure == Failure::kNeedsRecovery) return;  // a failure, but no run to time
  runSeconds_ += std::chrono::duration<double>(record.ended - record.started).count();
  ++timed_;
}

double StationTotals::yieldPercent() const {
  const std::size_t runs = flashed + failed;
  return runs ? 100.0 * static_cast<double>(flashed) / static_cast<double>(runs) : 0.0;
}

double StationTotals::meanSeconds() const {
  return timed_ ? runSeconds_ / static_cast<double>(timed_) : 0.0;
}

double StationTotals::seconds(Clock::time_point now) const {
  return firstStart_ ? std::chrono::duration<double>(now - *firstStart_).count() : 0;
}

double StationTotals::headsetsPerHour(Clock::time_point now) const {
  const double elapsed = seconds(now);
  return elapsed > 0 ? 3600.0 * static_cast<double>(flashed) / elapsed : 0.0;
}

}  // namespace obrint::engine
