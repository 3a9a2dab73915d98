// The durations of flashed runs as counts per bucket, from which a median is read without holding
// every duration: exact below 1024 ms, above within 0.1 % (buckets 1/512 of a power of two wide,
// read at their middle). At most 28,672 buckets whatever the runs, in practice a few hundred.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace obrint::records {

class DurationHistogram {
 public:
  void Add(std::uint64_t ms);
  // `runs` runs in `bucket`, the shortest of them `leastMs` and the longest `mostMs`: the same
  // histogram from counts kept elsewhere (a database's).
  void AddBucket(std::uint64_t bucket, std::uint64_t runs, std::uint64_t leastMs,
                 std::uint64_t mostMs);
  // The middle value, or the mean of the two middle values for an even count. Kept within the
  // shortest and longest duration, so that runs that all took the same time give it exactly.
  std::optional<std::uint64_t> Median() const;
  // The value at rank ceil(0.95 n) in ascending order, kept within them likewise.
  std::optional<std::uint64_t> P95() const;
  std::uint64_t count() const { return count_; }

 private:
  double AtRank(std::uint64_t rank) const;  // 1-based, in ascending order
  std::uint64_t Within(double ms) const;    // rounded, and kept to the shortest and longest

  std::vector<std::pair<std::uint64_t, std::uint64_t>> buckets_;  // bucket, count; ascending
  std::uint64_t count_ = 0;
  std::uint64_t least_ = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t most_ = 0;
};

}  // namespace obrint::records
