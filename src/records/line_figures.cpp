#include "records/line_figures.h"

#include <set>
#include <unordered_map>

#include "device/text.h"

namespace obrint::records {
namespace {

// A headset's key: its MCU ID's 24 characters, then its image's 64 digits.
using HeadsetKey = std::array<char, 24 + 64>;

constexpr std::uint64_t kBinMs = 1000;

}  // namespace

HeadsetYield YieldOf(std::uint64_t headsets, std::uint64_t flashed) {
  if (headsets == 0) return {headsets, flashed, std::nullopt};
  return {headsets, flashed, 100.0 * static_cast<double>(flashed) / static_cast<double>(headsets)};
}

std::optional<double> HeadsetsPerHour(std::uint64_t flashed, std::uint64_t hours) {
  if (hours == 0) return std::nullopt;
  return static_cast<double>(flashed) / static_cast<double>(hours);
}

DurationFigures DurationsOf(const DurationHistogram& durations,
                            const std::map<std::uint64_t, std::uint64_t>& bySecond) {
  DurationFigures figures{durations.count(), durations.Median(), durations.P95(), {}};
  for (const auto& [second, runs] : bySecond)
    figures.histogram.push_back({second * kBinMs, (second + 1) * kBinMs, runs});
  return figures;
}

void AddHeadsetEnds(const HeadsetEnds& ends, LineFigures& line) {
  std::uint64_t headsets = 0, firstFlashed = 0, finalFlashed = 0;
  for (const auto& [key, n] : ends) {
    line.byDayStation.push_back({std::string(key.first), std::string(key.second),
                                 YieldOf(n[0], n[1]), YieldOf(n[2], n[3])});
    headsets += n[0];
    firstFlashed += n[1];
    finalFlashed += n[3];
  }
  line.firstPass = YieldOf(headsets, firstFlashed);
  line.final = YieldOf(headsets, finalFlashed);
}

RecordOrder OrderOf(std::string_view ended, std::string_view id) {
  RecordOrder order;
  CopyInto(ended, order.ended);
  std::size_t at = 0;
  for (std::size_t i = 0; i + 1 < id.size() && at < order.id.size(); i += id[i] == '-' ? 1 : 2) {
    if (id[i] != '-')
      order.id[at++] = static_cast<std::uint8_t>(ParseHex(id.substr(i, 2)).value_or(0));
  }
  return order;
}

struct LineTally::State {
  // A headset's first or last record.
  struct End {
    RecordOrder order;
    const std::string* station = nullptr;  // in `stations`, whose nodes stay in place
    bool flashed = false;
  };
  struct Headset {
    End first, last;
  };
  struct Counts {
    std::uint64_t runs = 0, failed = 0;
  };

  void Add(const LogRecord& record, std::string_view id) {
    if (record.outcome == RunOutcome::kNotStarted) return;
    const bool flashed = record.outcome == RunOutcome::kFlashed;
    ++figures.runs;
    ++(flashed ? figures.flashed : figures.failed);
    const std::string_view hourText = std::string_view(record.ended).substr(0, 13);
    auto hour = hours.find(hourText);
    if (hour == hours.end()) hour = hours.emplace(hourText, HourCount{}).first;
    ++(flashed ? hour->second.flashed : hour->second.failed);
    if (flashed) {
      durations.Add(record.durationMs);
      ++bins[record.durationMs / kBinMs];
    }
    if (!record.usbPort.empty()) {
      Counts& port = ports[{record.station, record.usbPort}];
      ++port.runs;
      port.failed += flashed ? 0 : 1;
    }
    if (record.mcuId.empty()) return;
    HeadsetKey key{};
    CopyInto(record.mcuId, key);
    CopyInto(record.imageSha256, key, 24);
    const End end{OrderOf(record.ended, id), &*stations.insert(record.station).first, flashed};
    const auto [at, inserted] = headsets.try_emplace(key, Headset{end, end});
    if (inserted) return;
    if (end.order < at->second.first.order) at->second.first = end;
    if (end.order >= at->second.last.order) at->second.last = end;
  }

  LineFigures figures;  // the counts so far
  DurationHistogram durations;
  std::map<std::uint64_t, std::uint64_t> bins;  // runs by whole seconds taken
  std::map<std::string, HourCount, std::less<>> hours;
  std::map<std::pair<std::string, std::string>, Counts> ports;  // by station and port
  std::set<std::string, std::less<>> stations;
  std::unordered_map<HeadsetKey, Headset, FixedTextHash> headsets;
};

LineTally::LineTally() : state_(std::make_unique<State>()) {}
LineTally::~LineTally() = default;

void LineTally::Add(const LogRecord& record, std::string_view id) { state_->Add(record, id); }

LineFigures LineTally::Finish() const {
  const State& s = *state_;
  LineFigures line = s.figures;
  HeadsetEnds ends;
  for (const auto& [key, headset] : s.headsets) {
    for (const auto& [end, at] : {std::pair(&headset.first, 0), std::pair(&headset.last, 2)}) {
      auto& counts = ends[{std::string_view(end->order.ended.data(), 10), *end->station}];
      ++counts[at];
      counts[at + 1] += end->flashed ? 1 : 0;
    }
  }
  AddHeadsetEnds(ends, line);
  for (const auto& [hour, counts] : s.hours)
    line.byHour.push_back({hour, counts.flashed, counts.failed});
  line.headsetsPerHour = HeadsetsPerHour(line.flashed, line.byHour.size());
  line.durations = DurationsOf(s.durations, s.bins);
  for (const auto& [at, counts] : s.ports) {
    line.failuresByPort.push_back({at.first, at.second, counts.runs, counts.failed});
  }
  return line;
}

}  // namespace obrint::records
