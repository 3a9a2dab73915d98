#include "records/yield.h"

#include <algorithm>
#include <array>
#include <map>
#include <unordered_map>
#include <utility>

#include "device/text.h"
#include "records/durations.h"
#include "records/record_id.h"

namespace obrint::records {
namespace {

// A group's key: the image's 64 digits, the day's 10 characters, then the station. The fixed
// widths keep it unambiguous whatever the station's name holds, and it sorts by image and day.
constexpr std::size_t kImageDigits = 64;

// An MCU ID and a time are 24 characters each: kept in place, they cost a headset no allocation.
using Text24 = std::array<char, 24>;
std::string View(const Text24& text) { return {text.data(), text.size()}; }
constexpr std::size_t kDayChars = 10;

bool IsDate(const std::string& text) {
  return HasShape(text, "0000-00-00", "0123456789") && ParseUtcTime(text + "T00:00:00.000Z");
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), AsciiLower);
  return text;
}

// Most frequent first; a tie in the order given (by reason).
void SortByCount(std::vector<ReasonCount>& reasons) {
  std::stable_sort(reasons.begin(), reasons.end(),
                   [](const ReasonCount& a, const ReasonCount& b) { return a.count > b.count; });
}

}  // namespace

std::string FilterError(const YieldFilter& filter) {
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

struct YieldTally::State {
  struct Tally {
    std::uint64_t runs = 0, flashed = 0, failed = 0, notStarted = 0;
    std::map<std::string, std::uint64_t, std::less<>> failures;  // named, by reason
    std::uint64_t otherReasons = 0;
    DurationHistogram durations;
  };
  // One of a headset's latest records that say something of it (any outcome but not started).
  struct Kept {
    RecordOrder order;
    const std::string* group = nullptr;    // the key in `groups`, which map nodes keep in place
    const std::string* usbPort = nullptr;  // in `ports`
    RunOutcome outcome = RunOutcome::kFailed;
    std::string reason;
  };

  void Add(const LogRecord& record, std::string_view line) {
    if ((!since.empty() && record.day() < since) || !record.imageSha256.starts_with(image)) {
      ++counts.outsideFilter;
      return;
    }
    ++counts.records;
    key.assign(record.imageSha256).append(record.day()).append(record.station);
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
      CountFailure(tally, record);
    }

    // Only a record that says something of a named headset needs its ID, to be put in order.
    const bool named = !record.mcuId.empty() && record.outcome != RunOutcome::kNotStarted;
    std::string derived;
    if (named && record.id.empty() && !line.empty()) derived = DerivedRecordId(line);
    const std::string_view id = record.id.empty() ? derived : record.id;
    lineTally.Add(record, id);
    if (record.mcuId.empty()) {
      ++counts.withoutMcuId;
      return;
    }
    if (!named) return;
    Text24 mcuId{};
    CopyInto(record.mcuId, mcuId);
    Keep(headsets[mcuId], {OrderOf(record.ended, id), &group->first,
                           &*ports.insert(record.usbPort).first, record.outcome, record.reason});
  }

  // A headset's last record and those before it, the latest first, as many as its history
  // shows. Of two records in the same place the later read comes first.
  static void Keep(std::vector<Kept>& kept, Kept record) {
    const auto at = static_cast<std::size_t>(
        std::find_if(kept.begin(), kept.end(),
                     [&](const Kept& k) { return k.order <= record.order; }) -
        kept.begin());
    if (at > kHistoryLimit) return;  // older than every record kept
    if (kept.size() > kHistoryLimit) {
      kept.pop_back();                            // the oldest makes room
    } else if (kept.size() == kept.capacity()) {  // room for 1, 3, 7, then the most kept
      kept.reserve(std::min(kept.capacity() * 2 + 1, kHistoryLimit + 1));
    }
    kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(at), std::move(record));
  }

  // The reasons named are the first kMaxReasonsPerGroup in byte order, whatever order the logs
  // are read in; the others count under kOtherReasons.
  static void CountFailure(Tally& tally, const LogRecord& record) {
    std::string_view reason = record.reason;
    if (reason.empty()) reason = OutcomeName(record.outcome);
    auto& named = tally.failures;
    if (const auto at = named.find(reason); at != named.end()) {
      ++at->second;
      return;
    }
    if (named.size() == kMaxReasonsPerGroup) {
      const auto last = std::prev(named.end());
      if (reason > last->first) {
        ++tally.otherReasons;
        return;
      }
      tally.otherReasons += last->second;
      named.erase(last);
    }
    named.emplace(reason, 1);
  }

  std::string since;
  std::string image;  // lower case; empty matches every image
  std::map<std::string, Tally, std::less<>> groups;
  std::unordered_map<Text24, std::vector<Kept>, FixedTextHash> headsets;  // by MCU ID
  std::set<std::string, std::less<>> ports;  // the USB ports of the records kept
  LineTally lineTally;
  Yield counts;     // the counters only
  std::string key;  // reused from record to record
};

YieldTally::YieldTally(YieldFilter filter) : state_(std::make_unique<State>()) {
  state_->since = std::move(filter.since);
  state_->image = Lower(std::move(filter.image));
}

YieldTally::~YieldTally() = default;

void YieldTally::Add(const LogRecord& record, std::string_view line) { state_->Add(record, line); }

Yield YieldTally::Finish(const LogReader& reader) const {
  const State& s = *state_;
  Yield report = s.counts;
  report.unreadable = reader.unreadable();
  report.namedUnreadable = reader.namedUnreadable();
  for (const auto& [key, tally] : s.groups) {
    report.groups.push_back({key.substr(0, kImageDigits), key.substr(kImageDigits + kDayChars),
                             key.substr(kImageDigits, kDayChars), tally.runs, tally.flashed,
                             tally.failed, tally.notStarted,
                             NamedFailures(tally.failures, tally.otherReasons),
                             YieldOf(tally.flashed + tally.failed, tally.flashed).yieldPercent,
                             tally.durations.Median()});
  }
  report.line = s.lineTally.Finish();
  report.line.failuresByReason = FailuresByReason(report.groups);
  report.error = ImageMatchesError(s.image, report.groups);
  for (const auto& [mcuId, kept] : s.headsets) {
    if (kept.front().outcome == RunOutcome::kFlashed) continue;  // kept: never not started
    const auto earlier = [&](const State::Kept& k) {
      const std::string_view key = *k.group;
      return EarlierRecord{View(k.order.ended), std::string(key.substr(kImageDigits + kDayChars)),
                           *k.usbPort,          std::string(key.substr(0, kImageDigits)),
                           k.outcome,           k.reason};
    };
    FailedHeadset& headset =
        report.failedHeadsets.emplace_back(FailedHeadset{earlier(kept.front()), View(mcuId), {}});
    std::transform(kept.begin() + 1, kept.end(), std::back_inserter(headset.history), earlier);
  }
  std::sort(report.failedHeadsets.begin(), report.failedHeadsets.end(),
            [](const FailedHeadset& a, const FailedHeadset& b) { return a.mcuId < b.mcuId; });
  return report;
}

std::vector<ReasonCount> NamedFailures(std::map<std::string, std::uint64_t, std::less<>> counts,
                                       std::uint64_t other) {
  while (counts.size() > kMaxReasonsPerGroup) {
    other += std::prev(counts.end())->second;
    counts.erase(std::prev(counts.end()));
  }
  if (other > 0) counts[std::string(kOtherReasons)] += other;
  std::vector<ReasonCount> failures;
  for (auto& [reason, count] : counts) failures.push_back({reason, count});
  SortByCount(failures);
  return failures;
}

std::vector<ReasonCount> FailuresByReason(const std::vector<GroupSummary>& groups) {
  std::map<std::string_view, std::uint64_t> counts;
  for (const GroupSummary& group : groups) {
    for (const ReasonCount& failure : group.failures) counts[failure.reason] += failure.count;
  }
  std::vector<ReasonCount> reasons;
  for (const auto& [reason, count] : counts) reasons.push_back({std::string(reason), count});
  SortByCount(reasons);
  return reasons;
}

std::string ImageMatchesError(std::string_view image, const std::vector<GroupSummary>& groups) {
  std::set<std::string_view> images;
  for (const GroupSummary& group : groups) images.insert(group.imageSha256);
  if (image.empty() || images.size() < 2) return {};
  std::string error = "--image " + std::string(image) + " matches " +
                      std::to_string(images.size()) + " images; give more of its digits:";
  for (std::string_view each : images) error.append(" ").append(each);
  return error;
}

std::set<std::string> FailedMcuIds(const Yield& report) {
  std::set<std::string> ids;
  for (const FailedHeadset& headset : report.failedHeadsets) ids.insert(headset.mcuId);
  return ids;
}

Result<std::set<std::string>> FailedMcuIdsIn(const std::string& path, std::string& unopened) {
  YieldTally tally;
  LogReader reader([&tally](const LogRecord& record, std::string_view, std::uint64_t,
                            std::string_view line) { tally.Add(record, line); });
  if (reader.ReadFiles({path}, unopened) == 0) return Failure::kFileNotOpened;
  return FailedMcuIds(tally.Finish(reader));
}

}  // namespace obrint::records
