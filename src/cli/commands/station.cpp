// station IMAGE: flashes each headset that arrives, until it is stopped. On a terminal a live
// table, one row per port, with the totals below it; without one, or with --json, one JSON line
// per event on stdout, the last one the command's own object.
#include <csignal>
#include <map>

#include "cli/flashing.h"
#include "device/text.h"
#include "engine/station.h"
#include "records/log_reader.h"

namespace obrint::cli {
namespace {

using engine::StationEvent;
using K = StationEvent::Kind;
using Json = nlohmann::ordered_json;
using records::RunOutcome;
using Steady = std::chrono::steady_clock;

std::string_view KindName(StationEvent::Kind kind) {
  static constexpr std::string_view kNames[] = {
      "arrival", "start", "progress", "done", "skip", "needs_recovery", "unplug", "log_failed"};
  return kNames[static_cast<std::size_t>(kind)];
}

// What the station tells, shown: the rows and totals, or a JSON line each; and its end.
class View : public RunObserver {
 public:
  View(Context& context, const RunPlace& place)
      : RunObserver(context, place),
        setting_(place.setting),
        lines_(context.console.json() || !context.console.terminal()),
        virtualTime_(OnVirtualTime(context.options)),
        table_(context.console) {
    // The totals move on while no headset does.
    if (!lines_) {
      ticker_.emplace([this] {
        const std::lock_guard drawing(mutex_);
        Draw();
      });
    }
  }

  void Tell(const StationEvent& event) {
    const std::lock_guard lock(mutex_);
    // Written above the table, which stays.
    if (event.kind == K::kLogFailed) {
      context_.console.Error(console::LogFailedText(context_.options.log, event.why));
    }
    if (event.kind == K::kDone) told_.insert(event.run);
    totals_.Count(event, Steady::now());
    if (lines_) return Line(event);
    if (event.kind == K::kLogFailed) return Draw();
    struct Run& run = runs_[event.row];
    run.text = RowText(event, run);
    table_.Set(event.row, event.mcuId ? FormatMcuId(*event.mcuId) : "", run.text);
    Draw();
  }

  // The totals, as the last line or below the table, and in the command's object.
  void End(const std::vector<HeadsetRecord>& records) {
    ticker_.reset();
    const std::lock_guard lock(mutex_);
    Json& fields = context_.reply.fields;
    fields["event"] = "stop";
    PutImage(fields, setting_);
    fields["totals"] = Totals();
    context_.reply.FailRun(records, std::to_string(totals_.failed + totals_.leftAlone) + " of " +
                                        std::to_string(totals_.arrived) +
                                        " headsets were not flashed");
    // Ctrl+C ends a station with 130, unless a headset's outcome was worse.
    if (context_.signals.interrupts() > 0 && !context_.reply.failed()) {
      context_.reply.Stop(SIGINT, "stopped by Ctrl+C; every headset has its record");
    }
    if (lines_) return;
    Draw();  // the totals as they end
    context_.console.EndProgress();
  }

  // A second Ctrl+C, or another signal: every run not ended yet has its record now.
  void Ending(const std::vector<HeadsetRecord>& records, int signal) override {
    ticker_.reset();
    for (std::size_t run = 0; run < records.size(); ++run) {
      if (told_.contains(run)) continue;
      StationEvent event =
          StationEvent::Of(K::kDone, RowOf(records[run]), records[run].path, records[run].mcuId);
      event.run = run;
      event.record = records[run];
      Tell(event);
    }
    End(records);
    context_.reply.Stop(
        signal, "stopped by signal " + std::to_string(signal) + "; every headset has its record");
    if (lines_) {
      PrintJson(context_);
    } else {
      context_.console.Error(context_.reply.error);
    }
    EndProcess(128 + signal);
  }
  bool lines() const { return lines_; }

  // Below the totals; as an event when it connects, goes away or refuses.
  void LinkChanged(const database::Link& link) override {
    const std::lock_guard lock(mutex_);
    const bool news = !link_ || link_->connected != link.connected || link_->away != link.away;
    link_ = link;
    if (!lines_) return Draw();
    if (!news) return;
    Json line = Event("database");
    line.update(LinkJson(link));
    Print(line);
  }
  void Refused(const std::string& recordId, const std::string& usbPort,
               const std::string& why) override {
    const std::lock_guard lock(mutex_);
    RunObserver::Refused(recordId, usbPort, why);
    if (!lines_) return;
    Json line = Event("database_refused");
    line.update({{"usb_port", usbPort}, {"id", recordId}, {"reason", why}});
    Print(line);
  }

 private:
  // A row's run.
  struct Run {
    std::string text;  // as the table shows it
    Steady::time_point started;
    bool done = false;  // flashed, or skipped as done: an unplug empties the row
  };

  std::string RowOf(const HeadsetRecord& record) const {
    for (const console::HeadsetTable::Row& row : table_.rows()) {
      if (record.mcuId && row.mcuId == FormatMcuId(*record.mcuId)) return row.port;
    }
    return record.usbPort;
  }

  Json Totals() const {
    const auto now = Steady::now();
    return {{"arrived", totals_.arrived},
            {"flashed", totals_.flashed},
            {"failed", totals_.failed},
            {"skipped", totals_.skipped},
            {"left_alone", totals_.leftAlone},
            {"yield_percent", totals_.yieldPercent()},
            {"mean_seconds", totals_.meanSeconds()},
            {"headsets_per_hour", totals_.headsetsPerHour(now)},
            {"seconds", totals_.seconds(now)}};
  }

  // Where the row of `event` stands now; `row` its run.
  std::string RowText(const StationEvent& event, struct Run& row) {
    const auto elapsed = [&] {
      return console::TookText(std::chrono::duration<double>(Steady::now() - row.started).count(),
                               virtualTime_);
    };
    switch (event.kind) {
      case K::kArrival:
        row.done = false;
        return event.firmware == FirmwareKind::kBoot ? "arrived in its boot firmware" : "arrived";
      case K::kStart:
        row.started = Steady::now();
        return "flashing";
      case K::kProgress:
        return console::FlashingText(static_cast<int>(event.percent)) + elapsed();
      case K::kDone: {
        const HeadsetRecord& record = *event.record;
        const RunOutcome outcome = record.outcome();
        row.done = outcome == RunOutcome::kFlashed;
        const std::string seconds = console::TookText(
            std::chrono::duration<double>(record.ended - record.started).count(), virtualTime_);
        if (row.done)
          return "done, unplug  " + records::VersionText(record.firmwareAfter) + seconds;
        return console::UnflashedText(record) + (outcome == RunOutcome::kNotStarted ? "" : seconds);
      }
      case K::kSkip:
        row.done = event.flashedAt.has_value();
        return event.flashedAt
                   ? "already done at " + records::UtcTime(*event.flashedAt) + ", unplug"
                   : event.why;
      case K::kRecovery:
        return "needs recovery";
      case K::kUnplug:
        return row.done ? "waiting" : row.text + "  (unplugged)";
      case K::kLogFailed:
        break;
    }
    return row.text;
  }

  void Draw() {
    std::vector<std::string> below = {console::TotalsText(totals_, Steady::now(), virtualTime_)};
    if (link_) below.push_back(console::LinkText(*link_));
    table_.Draw(std::move(below));
  }

  void Line(const StationEvent& event) {
    Json line = Event(KindName(event.kind));
    line.update(
        {{"usb_port", event.row}, {"mcu_id", event.mcuId ? FormatMcuId(*event.mcuId) : ""}});
    if (event.kind == K::kArrival) {
      line["path"] = event.path;
      line["firmware"] = FirmwareName(event.firmware);
    }
    if (event.kind == K::kProgress) line["percent"] = event.percent;
    if (!event.why.empty()) line["reason"] = event.why;
    if (event.flashedAt) line["flashed_at"] = records::UtcTime(*event.flashedAt);
    if (event.record) line["record"] = records::RecordJson(setting_, *event.record);
    Print(line);
  }
  // An event's line begins with its name and time.
  static Json Event(std::string_view name) {
    return {{"event", name}, {"time", records::UtcTime(std::chrono::system_clock::now())}};
  }
  void Print(const Json& line) {
    context_.console.Json(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  }

  const records::RunSetting& setting_;
  bool lines_;
  bool virtualTime_;
  std::mutex mutex_;  // the ticker draws too
  console::HeadsetTable table_;
  std::map<std::string, struct Run> runs_;  // by row
  std::set<std::size_t> told_;              // runs whose end was told
  std::optional<database::Link> link_;      // --db
  engine::StationTotals totals_;
  std::optional<console::Ticker> ticker_;  // redraws the table every second
};

void Run(Context& context) {
  const Options& options = context.options;
  const std::optional<engine::LoadedImage> image = LoadFlashableImage(context);
  if (!image) return;
  // Watched before the first look at the bus, so that no arrival falls between.
  const std::unique_ptr<ArrivalWatch> watch = context.host->WatchArrivals();
  if (!watch) return context.reply.Fail(Failure::kNoArrivalWatch);
  engine::StationRules rules{
      options.headsets, options.again, options.recover, options.maxHeadsets, {}};
  if (!options.log.empty()) {
    std::uint64_t passedOver = 0;
    rules.flashedBefore = records::FlashedBefore(options.log, image->sha256, passedOver);
    if (passedOver > 0) {
      context.console.Warn(options.log + ": " + std::to_string(passedOver) +
                           " lines that are no records were passed over");
    }
  }
  std::optional<RunPlace> place = OpenRunPlace(context, *image);
  if (!place) return;

  View view(context, *place);
  engine::Station station(FleetSetupFor(context, *image, *place, view), std::move(rules),
                          [&view](const StationEvent& event) { view.Tell(event); });
  const std::vector<HeadsetRecord> records = station.Run(*watch);
  CloseOutbox(context, *place);
  view.End(records);
  EndRunPlace(context, *place, station.unkept());
  // Without --json the lines end with the command's object all the same.
  if (view.lines() && !context.console.json()) PrintJson(context);
}

}  // namespace

const Command kStationCommand = {
    "station", "flash each headset that arrives, until stopped (Ctrl+C) or --max", true, Run};

}  // namespace obrint::cli
