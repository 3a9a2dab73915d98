// The line's figures over a yield's records: runs, first-pass and final yield (over the headsets,
// by day and station too), headsets per hour, the flashed runs' durations, and the failures by
// reason and by USB port; from logs (YieldTally) and from a database alike, the arithmetic here
// once. A record counts unless not started. A headset is an MCU ID and an image with a counting
// record; its first and last are those with the least and greatest (ended, ID), a record written
// before IDs taking the ID derived from its content.
#pragma once

#include <algorithm>
#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/durations.h"
#include "records/log_reader.h"
#include "records/record.h"

namespace obrint::records {

inline constexpr std::size_t kHistoryLimit = 10;  // a failed headset's earlier records shown

// Headsets, and of them those flashed: a first-pass or a final yield.
struct HeadsetYield {
  std::uint64_t headsets = 0;
  std::uint64_t flashed = 0;
  std::optional<double> yieldPercent;  // 100 * flashed / headsets; none without a headset
};
HeadsetYield YieldOf(std::uint64_t headsets, std::uint64_t flashed);

// Flashed runs over the hours that had a counting record; none without such an hour.
std::optional<double> HeadsetsPerHour(std::uint64_t flashed, std::uint64_t hours);

struct DurationBin {  // [fromMs, toMs), one second wide
  std::uint64_t fromMs = 0;
  std::uint64_t toMs = 0;
  std::uint64_t runs = 0;
};

struct DurationFigures {  // of the flashed runs
  std::uint64_t runs = 0;
  std::optional<std::uint64_t> medianMs;
  std::optional<std::uint64_t> p95Ms;
  std::vector<DurationBin> histogram;  // the bins with a run, ascending
};
// The figures from the histogram of all flashed runs and their counts by whole seconds taken.
DurationFigures DurationsOf(const DurationHistogram& durations,
                            const std::map<std::uint64_t, std::uint64_t>& bySecond);

struct DayStationYield {
  std::string day;  // "YYYY-MM-DD", UTC
  std::string station;
  HeadsetYield firstPass;  // the headsets whose first record ended that day at that station
  HeadsetYield final;      // the headsets whose last record did
};

struct HourCount {
  std::string hour;  // "YYYY-MM-DDTHH", UTC
  std::uint64_t flashed = 0;
  std::uint64_t failed = 0;
};

struct ReasonCount {
  std::string reason;  // a failure's reason, or its outcome's name where it gave none
  std::uint64_t count = 0;
};

struct PortCount {
  std::string station;
  std::string usbPort;  // never empty
  std::uint64_t runs = 0;
  std::uint64_t failed = 0;
};

struct LineFigures {
  std::uint64_t runs = 0;  // counting records
  std::uint64_t flashed = 0;
  std::uint64_t failed = 0;
  HeadsetYield firstPass;
  HeadsetYield final;
  std::optional<double> headsetsPerHour;
  DurationFigures durations;
  std::vector<DayStationYield> byDayStation;  // by day, then station (byte order)
  std::vector<HourCount> byHour;              // ascending
  std::vector<ReasonCount> failuresByReason;  // count descending, then reason (byte order)
  std::vector<PortCount> failuresByPort;      // by station, then port (byte order)
};

// One of a failed headset's earlier counting records.
struct EarlierRecord {
  std::string ended;
  std::string station;
  std::string usbPort;
  std::string imageSha256;
  RunOutcome outcome = RunOutcome::kFailed;
  std::string reason;
};

// By day and station: the headsets whose first record ended there, and of them those flashed;
// then the same for their last records.
using HeadsetEnds =
    std::map<std::pair<std::string_view, std::string_view>, std::array<std::uint64_t, 4>>;
// The line's first-pass and final yields, also by day and station, from `ends`.
void AddHeadsetEnds(const HeadsetEnds& ends, LineFigures& line);

// Where a record stands among a headset's records: by `ended`, then by ID (its 16 bytes, which
// sort as its lower-case text does; none sorts first).
struct RecordOrder {
  std::array<char, 24> ended{};
  std::array<std::uint8_t, 16> id{};
  auto operator<=>(const RecordOrder&) const = default;
};
RecordOrder OrderOf(std::string_view ended, std::string_view id);

// Text kept in place from `at`, cut or padded with NULs: a key that costs no allocation.
template <std::size_t N>
void CopyInto(std::string_view text, std::array<char, N>& to, std::size_t at = 0) {
  std::copy_n(text.begin(), std::min(text.size(), N - at), to.begin() + at);
}
struct FixedTextHash {
  template <std::size_t N>
  std::size_t operator()(const std::array<char, N>& text) const {
    return std::hash<std::string_view>()({text.data(), N});
  }
};

// Sums the line's figures up, a record within the filter at a time. Memory grows with the
// headsets, stations, ports, hours and the seconds the runs took, not with the records.
class LineTally {
 public:
  LineTally();
  ~LineTally();

  // `id` is the record's ID, or the one derived from its content where it has none.
  void Add(const LogRecord& record, std::string_view id);
  // Every figure but failuresByReason, which the caller counts.
  LineFigures Finish() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace obrint::records
