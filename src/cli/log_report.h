// The yield report over the --log files of one or many stations: per image, station and day the
// runs, flashed, failed by reason, yield and median time, and the headsets whose last record
// failed. The logs are read one line at a time and never held whole.
//
// A line that cannot be read (not JSON, a field the report needs missing, of the wrong type or
// not of its form, an empty line, a line longer than kMaxLogLine) is counted, named as
// "LOG:LINE: why" and skipped; the read goes on.
//
// Failures are the outcomes failed, not back and interrupted, each counted under its reason (the
// outcome's name where the reason is empty). A headset that was not started was left alone: the
// run counts apart, neither flashed nor failed, and leaves the headset's last record as it was.
//
// A headset's last record is the one that ended last across all logs (the later line read wins
// a tie: a later log, or further down the same log). Records without an MCU ID name no headset:
// they count in their group and apart, never in the list of failed headsets. A filter leaves
// records out before all this: with `since`, a headset's last record is its last since that day.
//
// Memory grows with the groups (image, station, day), the distinct reasons within a group (at
// most kMaxReasonsPerGroup), and the distinct headsets; not with the records. The median is
// therefore read from a histogram, not from every duration: exact below 1024 ms, above that within
// 0.1 % (buckets 1/512 of a power of two wide, each read at its middle), in whole milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/log_record.h"

namespace obrint::cli {

inline constexpr std::size_t kMaxLogLine = 65535;        // bytes, without the line end
inline constexpr std::size_t kMaxReasonsPerGroup = 100;  // then "(other reasons)"
inline constexpr std::string_view kOtherReasons = "(other reasons)";

struct ReportFilter {
  std::string since;  // "YYYY-MM-DD": records that ended that day (UTC) or later; empty: all
  // A whole SHA-256 or a prefix of at least 8 hexadecimal digits (either case) that must match
  // one image only; empty: every image.
  std::string image;
};

// Why `filter` cannot be used ("--since 2026-13-01 is not a date YYYY-MM-DD"), or empty.
std::string FilterError(const ReportFilter& filter);

struct ReasonCount {
  std::string reason;
  std::uint64_t count = 0;
};

struct GroupSummary {
  std::string imageSha256;
  std::string station;
  std::string day;  // UTC, of `ended`
  std::uint64_t runs = 0;
  std::uint64_t flashed = 0;
  std::uint64_t failed = 0;
  std::uint64_t notStarted = 0;
  std::vector<ReasonCount> failures;      // the most frequent first; the counts add up to failed
  std::optional<double> yieldPercent;     // flashed / (flashed + failed); none without either
  std::optional<std::uint64_t> medianMs;  // of the flashed runs' durations; none without one
};

struct FailedHeadset {
  std::string mcuId;
  std::string ended;
  std::string station;
  std::string imageSha256;
  RunOutcome outcome = RunOutcome::kFailed;
  std::string reason;
};

struct UnreadableLine {
  std::string where;  // "stations/a.jsonl:17"
  std::string why;
};

struct Report {
  std::vector<GroupSummary> groups;           // by image, day, station
  std::vector<FailedHeadset> failedHeadsets;  // by MCU ID
  std::uint64_t records = 0;                  // readable and within the filter
  std::uint64_t outsideFilter = 0;            // readable, left out by the filter
  std::uint64_t withoutMcuId = 0;             // of `records`
  std::uint64_t unreadable = 0;
  std::vector<UnreadableLine> namedUnreadable;  // the first ones, at most the reader's limit
  // Not empty when the report cannot be given: an image prefix that matches several images.
  std::string error;
};

// Reads `log` one line at a time, in a buffer of kMaxLogLine bytes (a longer line is passed over,
// never held): `onRecord` for each line that is a record, with its number and text, `onUnreadable`
// with its number and why for every other line; to the end of the log, or until `stop` says so.
using RecordSink =
    std::function<void(const LogRecord& record, std::uint64_t number, std::string_view line)>;
void ReadLogRecords(std::istream& log, const RecordSink& onRecord,
                    const std::function<void(std::uint64_t line, std::string why)>& onUnreadable,
                    const std::function<bool()>& stop = {});

// Reads logs one after another and sums them up. One reader per report.
class LogReader {
 public:
  explicit LogReader(ReportFilter filter = {}, std::size_t namedUnreadableLimit = 100);
  ~LogReader();
  LogReader(const LogReader&) = delete;
  LogReader& operator=(const LogReader&) = delete;

  // Reads `log` to its end, or until `stop` says so; `name` names its lines in messages
  // ("stations/a.jsonl").
  void Read(std::istream& log, std::string_view name, const std::function<bool()>& stop = {});
  // Reads the logs at `paths` (UTF-8) one after another, until `stop` says so; those that cannot
  // be opened (a folder among them) are named with their reasons in `unopened`, ", " between
  // them, and the others read all the same. How many were read.
  std::size_t ReadFiles(const std::vector<std::string>& paths, std::string& unopened,
                        const std::function<bool()>& stop = {});
  // Hands `sink` each readable line as it is read, within the filter or not: the log's name, the
  // line's number in it, its text and its record.
  using LineSink = std::function<void(std::string_view name, std::uint64_t number,
                                      std::string_view line, const LogRecord& record)>;
  void ForwardLines(LineSink sink);
  Report Finish() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// For flash --all --only-failed: the MCU IDs of the report's failed headsets. Read the logs
// without a filter for it, so that an older failure still counts.
std::set<std::string> FailedMcuIds(const Report& report);

}  // namespace obrint::cli
