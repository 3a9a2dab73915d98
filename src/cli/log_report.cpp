#include "cli/log_report.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <unordered_map>
#include <utility>

#include "cli/files.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

// Durations counted in buckets: one per millisecond below kExactBelow, then kPerOctave per power
// of two. A bucket above is at most 1/512 of its lower end wide, so its middle lies within 1/1024
// (0.1 %) of every duration in it: 16 ms wide around 10 s.
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

// The durations of a group's flashed runs, as counts per bucket: at most 28,672 buckets whatever
// the number of runs, and in practice a few hundred (runs of one image take about as long).
class DurationHistogram {
 public:
  void Add(std::uint64_t ms) {
    const std::uint64_t bucket = BucketOf(ms);
    auto at = std::lower_bound(buckets_.begin(), buckets_.end(), bucket,
                               [](const auto& entry, std::uint64_t b) { return entry.first < b; });
    if (at == buckets_.end() || at->first != bucket) at = buckets_.insert(at, {bucket, 0});
    ++at->second;
    ++count_;
    least_ = std::min(least_, ms);
    most_ = std::max(most_, ms);
  }

  // The middle value, or the mean of the two middle values for an even count. Kept within the
  // shortest and longest duration, so that runs that all took the same time give it exactly.
  std::optional<std::uint64_t> Median() const {
    if (count_ == 0) return std::nullopt;
    const double middle = (AtRank((count_ + 1) / 2) + AtRank(count_ / 2 + 1)) / 2;
    return std::clamp(static_cast<std::uint64_t>(std::llround(middle)), least_, most_);
  }

 private:
  double AtRank(std::uint64_t rank) const {  // 1-based, in ascending order
    std::uint64_t seen = 0;
    for (const auto& [bucket, count] : buckets_) {
      seen += count;
      if (seen >= rank) return BucketMiddle(bucket);
    }
    return 0;
  }

  std::vector<std::pair<std::uint64_t, std::uint64_t>> buckets_;  // bucket, count; ascending
  std::uint64_t count_ = 0;
  std::uint64_t least_ = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t most_ = 0;
};

// A group's key: the image's 64 digits, the day's 10 characters, then the station. The fixed
// widths keep it unambiguous whatever the station's name holds, and it sorts by image and day.
constexpr std::size_t kImageDigits = 64;

// An MCU ID and a time are 24 characters each: kept in place, they cost a headset no allocation.
using Text24 = std::array<char, 24>;
Text24 ToText24(std::string_view text) {
  Text24 fixed{};
  std::copy_n(text.begin(), std::min(text.size(), fixed.size()), fixed.begin());
  return fixed;
}
std::string_view View(const Text24& text) { return {text.data(), text.size()}; }
struct Text24Hash {
  std::size_t operator()(const Text24& text) const {
    return std::hash<std::string_view>()(View(text));
  }
};
constexpr std::size_t kDayChars = 10;

void MakeGroupKey(const LogRecord& record, std::string& key) {
  key.assign(record.imageSha256).append(record.day()).append(record.station);
}

bool IsDate(std::string_view text) {
  const auto number = [&](std::size_t at, std::size_t digits) {
    unsigned value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return static_cast<int>(value);
  };
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
  if (year < 0 || month < 0 || day < 0) return false;
  return std::chrono::year_month_day(std::chrono::year(year),
                                     std::chrono::month(static_cast<unsigned>(month)),
                                     std::chrono::day(static_cast<unsigned>(day)))
      .ok();
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), AsciiLower);
  return text;
}

}  // namespace

std::string FilterError(const ReportFilter& filter) {
  if (!filter.since.empty() && !IsDate(filter.since)) {
    return "--since " + filter.since + " is not a date YYYY-MM-DD";
  }
  const std::string image = Lower(filter.image);
  if (!image.empty() && (image.size() < 8 || image.size() > kImageDigits ||
                         image.find_first_not_of("0123456789abcdef") != std::string::npos)) {
    return "--image " + filter.image + " is not a SHA-256 or a prefix of 8 or more of its digits";
  }
  return {};
}

struct LogReader::State {
  struct Tally {
    std::uint64_t runs = 0, flashed = 0, failed = 0, notStarted = 0;
    std::vector<ReasonCount> failures;  // in the order first seen
    DurationHistogram durations;
  };
  // A headset's latest record that says something of it (any outcome but not started).
  struct Last {
    Text24 ended{};
    const std::string* group = nullptr;  // the key in `groups`, which map nodes keep in place
    RunOutcome outcome = RunOutcome::kFailed;
    std::string reason;
  };

  void Unreadable(std::string_view name, std::uint64_t line, std::string why) {
    ++counts.unreadable;
    if (counts.namedUnreadable.size() < namedLimit) {
      counts.namedUnreadable.push_back(
          {std::string(name) + ":" + std::to_string(line), std::move(why)});
    }
  }

  void Add(const LogRecord& record) {
    if ((!since.empty() && record.day() < since) || !record.imageSha256.starts_with(image)) {
      ++counts.outsideFilter;
      return;
    }
    ++counts.records;
    MakeGroupKey(record, key);
    const auto group = groups.try_emplace(key).first;
    Tally& tally = group->second;
    ++tally.runs;
    if (record.outcome == RunOutcome::kFlashed) {
      ++tally.flashed;
      tally.durations.Add(record.durationMs);
    } else if (record.outcome == RunOutcome::kNotStarted) {
      ++tally.notStarted;
    } else {
      ++tally.failed;
      CountFailure(tally.failures, record);
    }

    if (record.mcuId.empty()) {
      ++counts.withoutMcuId;
      return;
    }
    if (record.outcome == RunOutcome::kNotStarted) return;
    const auto [at, inserted] = headsets.try_emplace(ToText24(record.mcuId));
    Last& last = at->second;
    if (inserted || record.ended >= View(last.ended)) {
      last.ended = ToText24(record.ended);
      last.group = &group->first;
      last.outcome = record.outcome;
      if (IsFailure(record.outcome)) {
        last.reason = record.reason;
      } else {  // only a headset that stays failed keeps the room of its reason
        last.reason.clear();
        last.reason.shrink_to_fit();
      }
    }
  }

  static void CountFailure(std::vector<ReasonCount>& failures, const LogRecord& record) {
    std::string_view reason = record.reason;
    if (reason.empty()) reason = OutcomeName(record.outcome);
    auto at = std::find_if(failures.begin(), failures.end(),
                           [&](const ReasonCount& c) { return c.reason == reason; });
    if (at == failures.end() && failures.size() >= kMaxReasonsPerGroup) {
      reason = kOtherReasons;
      at = std::find_if(failures.begin(), failures.end(),
                        [&](const ReasonCount& c) { return c.reason == reason; });
    }
    if (at == failures.end()) at = failures.insert(failures.end(), {std::string(reason), 0});
    ++at->count;
  }

  std::string since;
  std::string image;  // lower case; empty matches every image
  std::size_t namedLimit = 0;
  LineSink sink;
  std::map<std::string, Tally, std::less<>> groups;
  std::unordered_map<Text24, Last, Text24Hash> headsets;  // by MCU ID
  Report counts;                                          // counters and named lines only
  std::string key;                                        // reused from record to record
};

LogReader::LogReader(ReportFilter filter, std::size_t namedUnreadableLimit)
    : state_(std::make_unique<State>()) {
  state_->since = std::move(filter.since);
  state_->image = Lower(std::move(filter.image));
  state_->namedLimit = namedUnreadableLimit;
}

LogReader::~LogReader() = default;

void ReadLogRecords(std::istream& log, const RecordSink& onRecord,
                    const std::function<void(std::uint64_t, std::string)>& onUnreadable,
                    const std::function<bool()>& stop) {
  std::vector<char> buffer(kMaxLogLine + 1);
  LogRecord record;
  std::string why;
  std::uint64_t number = 0;
  while (!stop || !stop()) {
    log.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(log.gcount());
    if (got == 0 && (log.eof() || log.bad())) break;
    ++number;
    if (log.fail() && !log.eof() && !log.bad()) {
      // Longer than the buffer: the rest of the line is skipped, never held.
      log.clear();
      log.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      onUnreadable(number, "longer than " + std::to_string(kMaxLogLine) + " bytes");
      continue;
    }
    const bool lastWithoutEnd = log.eof();  // getline stopped at the end, not at a line end
    std::string_view line(buffer.data(), lastWithoutEnd ? got : got - 1);
    if (line.ends_with('\r')) line.remove_suffix(1);  // a log copied through a text-mode tool
    if (line.empty()) {
      onUnreadable(number, "empty line");
    } else if (ParseLogRecord(line, record, why)) {
      onRecord(record, number, line);
    } else {
      if (lastWithoutEnd) why += "; the log ends inside this line, which may be cut short";
      onUnreadable(number, why);
    }
  }
  if (log.bad()) onUnreadable(number + 1, "the log could not be read further");
}

void LogReader::Read(std::istream& log, std::string_view name, const std::function<bool()>& stop) {
  State& s = *state_;
  ReadLogRecords(
      log,
      [&s, name](const LogRecord& record, std::uint64_t number, std::string_view line) {
        s.Add(record);
        if (s.sink) s.sink(name, number, line, record);
      },
      [&](std::uint64_t line, std::string why) { s.Unreadable(name, line, std::move(why)); }, stop);
}

std::size_t LogReader::ReadFiles(const std::vector<std::string>& paths, std::string& unopened,
                                 const std::function<bool()>& stop) {
  std::size_t read = 0;
  for (const std::string& path : paths) {
    if (stop && stop()) break;
    std::ifstream log;
    if (!OpenLog(path, log)) {
      unopened += (unopened.empty() ? "" : ", ") + WithSystemReason(path);
      continue;
    }
    Read(log, path, stop);
    ++read;
  }
  return read;
}

void LogReader::ForwardLines(LineSink sink) { state_->sink = std::move(sink); }

Report LogReader::Finish() const {
  const State& s = *state_;
  Report report = s.counts;
  std::set<std::string_view> images;
  for (const auto& [key, tally] : s.groups) {
    GroupSummary group;
    group.imageSha256 = key.substr(0, kImageDigits);
    group.day = key.substr(kImageDigits, kDayChars);
    group.station = key.substr(kImageDigits + kDayChars);
    group.runs = tally.runs;
    group.flashed = tally.flashed;
    group.failed = tally.failed;
    group.notStarted = tally.notStarted;
    group.failures = tally.failures;
    std::stable_sort(group.failures.begin(), group.failures.end(),
                     [](const ReasonCount& a, const ReasonCount& b) { return a.count > b.count; });
    if (tally.flashed + tally.failed > 0) {
      group.yieldPercent = 100.0 * static_cast<double>(tally.flashed) /
                           static_cast<double>(tally.flashed + tally.failed);
    }
    group.medianMs = tally.durations.Median();
    images.insert(std::string_view(key).substr(0, kImageDigits));
    report.groups.push_back(std::move(group));
  }
  if (!s.image.empty() && images.size() > 1) {
    report.error = "--image " + s.image + " matches " + std::to_string(images.size()) +
                   " images; give more of its digits:";
    for (std::string_view image : images) report.error.append(" ").append(image);
  }
  for (const auto& [mcuId, last] : s.headsets) {
    if (!IsFailure(last.outcome)) continue;
    const std::string_view key = *last.group;
    report.failedHeadsets.push_back({std::string(View(mcuId)), std::string(View(last.ended)),
                                     std::string(key.substr(kImageDigits + kDayChars)),
                                     std::string(key.substr(0, kImageDigits)), last.outcome,
                                     last.reason});
  }
  std::sort(report.failedHeadsets.begin(), report.failedHeadsets.end(),
            [](const FailedHeadset& a, const FailedHeadset& b) { return a.mcuId < b.mcuId; });
  return report;
}

std::set<std::string> FailedMcuIds(const Report& report) {
  std::set<std::string> ids;
  for (const FailedHeadset& headset : report.failedHeadsets) ids.insert(headset.mcuId);
  return ids;
}

}  // namespace obrint::cli
