// The yield of one or many stations from their logs' records: per image, station and day the
// runs, flashed, failed by reason, yield and median time; the line's figures (line_figures.h);
// and the headsets whose last record failed, each with its earlier records.
//
// Failed, not back and interrupted are failures, each under its reason (else its outcome's name);
// a run not started counts apart and leaves its headset's last record as it was. A headset's last
// record is the one that ended last across all logs (a tie: the greater ID, then the later line
// read); a record without an MCU ID names no headset. The filter leaves records out before all
// this. Memory grows with the groups, their reasons (at most kMaxReasonsPerGroup) and the headsets
// (at most kHistoryLimit earlier records each), not with the records: medians come from
// histograms (durations.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "records/line_figures.h"
#include "records/log_reader.h"

namespace obrint::records {

// A group names the first of its failures' reasons in byte order, the others count under
// "(other reasons)": the same records give the same report whatever order their logs come in.
inline constexpr std::size_t kMaxReasonsPerGroup = 100;
inline constexpr std::string_view kOtherReasons = "(other reasons)";

struct YieldFilter {
  std::string since;  // "YYYY-MM-DD": records that ended that day (UTC) or later; empty: all
  // A whole SHA-256 or a prefix of at least 8 hexadecimal digits (either case) that must match
  // one image only; empty: every image.
  std::string image;
};

// Why `filter` cannot be used ("--since 2026-13-01 is not a date YYYY-MM-DD"), or empty.
std::string FilterError(const YieldFilter& filter);

struct GroupSummary {
  std::string imageSha256;
  std::string station;
  std::string day;  // UTC, of `ended`
  std::uint64_t runs = 0;
  std::uint64_t flashed = 0;
  std::uint64_t failed = 0;
  std::uint64_t notStarted = 0;
  std::vector<ReasonCount> failures;   // most frequent first, then by reason; they add up to failed
  std::optional<double> yieldPercent;  // flashed / (flashed + failed); none without either
  std::optional<std::uint64_t> medianMs;  // of the flashed runs' durations; none without one
};

// A headset whose last record failed: that record, and the records before it.
struct FailedHeadset : EarlierRecord {
  std::string mcuId;
  std::vector<EarlierRecord> history;  // its MCU ID's, most recent first, at most kHistoryLimit
};

struct Yield {
  std::vector<GroupSummary> groups;           // by image, day, station
  std::vector<FailedHeadset> failedHeadsets;  // by MCU ID
  LineFigures line;
  std::uint64_t records = 0;        // readable and within the filter
  std::uint64_t outsideFilter = 0;  // readable, left out by the filter
  std::uint64_t withoutMcuId = 0;   // of `records`
  std::uint64_t unreadable = 0;
  std::vector<UnreadableLine> namedUnreadable;  // the first ones, at most the reader's limit
  // Not empty when the yield cannot be given: an image prefix that matches several images.
  std::string error;
};

// Sums records up, one at a time. One tally per yield.
class YieldTally {
 public:
  explicit YieldTally(YieldFilter filter = {});
  ~YieldTally();

  // `line`, the record's text, gives a record written before IDs its ID (without it: empty).
  void Add(const LogRecord& record, std::string_view line = {});
  // The yield, with the lines that `reader` could not read.
  Yield Finish(const LogReader& reader) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A group's failures from their counts by reason (`other` of them counted apart already): the
// first kMaxReasonsPerGroup in byte order named, the rest under kOtherReasons; most frequent first.
std::vector<ReasonCount> NamedFailures(std::map<std::string, std::uint64_t, std::less<>> counts,
                                       std::uint64_t other = 0);
// The line's failures by reason: the groups' summed, in the same order.
std::vector<ReasonCount> FailuresByReason(const std::vector<GroupSummary>& groups);

// Why a yield cannot be given: `image`, a prefix in lower case, matches several of the groups'
// images ("--image 0123abcd matches 2 images; give more of its digits: ..."); empty otherwise.
std::string ImageMatchesError(std::string_view image, const std::vector<GroupSummary>& groups);

// For flash --all --only-failed: the MCU IDs of the failed headsets. Tally the logs without a
// filter for it, so that an older failure still counts.
std::set<std::string> FailedMcuIds(const Yield& yield);
// The same, read from the log at `path`; Failure::kFileNotOpened, with `unopened` naming it.
Result<std::set<std::string>> FailedMcuIdsIn(const std::string& path, std::string& unopened);

}  // namespace obrint::records
