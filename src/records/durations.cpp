#include "records/durations.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace obrint::records {
namespace {

// One bucket per millisecond below kExactBelow, then kPerOctave per power of two. A bucket above
// is at most 1/512 of its lower end wide, so its middle lies within 1/1024 (0.1 %) of every
// duration in it: 16 ms wide around 10 s.
constexpr unsigned kSubBits = 9;
constexpr std::uint64_t kPerOctave = 1u << kSubBits;
constexpr std::uint64_t kExactBelow = 2 * kPerOctave;

std::uint64_t BucketOf(std::uint64_t ms) {
  if (ms < kExactBelow) return ms;
  const auto shift = static_cast<unsigned>(std::bit_width(ms)) - 1 - kSubBits;  // 1 or more
  return kExactBelow + (shift - 1) * kPerOctave + ((ms >> shift) - kPerOctave);
}

double BucketMiddle(std::uint64_t bucket) {
  if (bucket < kExactBelow) return static_cast<double>(bucket);
  const std::uint64_t shift = (bucket - kExactBelow) / kPerOctave + 1;
  const std::uint64_t low = (kPerOctave + (bucket - kExactBelow) % kPerOctave) << shift;
  return static_cast<double>(low) + static_cast<double>((std::uint64_t{1} << shift) - 1) / 2;
}

}  // namespace

void DurationHistogram::Add(std::uint64_t ms) { AddBucket(BucketOf(ms), 1, ms, ms); }

void DurationHistogram::AddBucket(std::uint64_t bucket, std::uint64_t runs, std::uint64_t leastMs,
                                  std::uint64_t mostMs) {
  auto at = std::lower_bound(buckets_.begin(), buckets_.end(), bucket,
                             [](const auto& entry, std::uint64_t b) { return entry.first < b; });
  if (at == buckets_.end() || at->first != bucket) at = buckets_.insert(at, {bucket, 0});
  at->second += runs;
  count_ += runs;
  least_ = std::min(least_, leastMs);
  most_ = std::max(most_, mostMs);
}

std::optional<std::uint64_t> DurationHistogram::Median() const {
  if (count_ == 0) return std::nullopt;
  return Within((AtRank((count_ + 1) / 2) + AtRank(count_ / 2 + 1)) / 2);
}

std::optional<std::uint64_t> DurationHistogram::P95() const {
  if (count_ == 0) return std::nullopt;
  return Within(AtRank((95 * count_ + 99) / 100));
}

std::uint64_t DurationHistogram::Within(double ms) const {
  return std::clamp(static_cast<std::uint64_t>(std::llround(ms)), least_, most_);
}

double DurationHistogram::AtRank(std::uint64_t rank) const {
  std::uint64_t seen = 0;
  for (const auto& [bucket, count] : buckets_) {
    seen += count;
    if (seen >= rank) return BucketMiddle(bucket);
  }
  return 0;
}

}  // namespace obrint::records
