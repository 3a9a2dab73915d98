// A station's loop: the headsets as they come and go, which arrival is flashed (through the
// fleet's workers, never the same headset twice), which was flashed with this image before, which
// is back after its reboot, which needs recovery. It shows nothing: it tells events, and counts.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/fleet.h"

namespace obrint::engine {

struct StationEvent {
  enum class Kind : std::uint8_t {
    kArrival,    // a headset plugged in that is not one of the station's already
    kStart,      // its run begins
    kProgress,   // `percent` of its image sent, every 10 %
    kDone,       // its run ended: `record`
    kSkip,       // not flashed: `why` (flashed with this image before: `flashedAt`)
    kRecovery,   // in its boot firmware: not flashed without --recover
    kUnplug,     // a headset whose run had ended left its port
    kLogFailed,  // the store kept no record: `why`; no headset starts any more (no row)
  };
  Kind kind{};
  std::string row;  // its USB port, or where the platform tells none "#N" in order of arrival
  std::string path;
  std::optional<McuId> mcuId;
  FirmwareKind firmware = FirmwareKind::kApplication;
  unsigned percent = 0;
  std::string why;
  std::optional<std::chrono::system_clock::time_point> flashedAt;
  std::optional<HeadsetRecord> record;
  std::size_t run = 0;  // start, progress, done: its index among the records

  static StationEvent Of(Kind kind, std::string row, std::string path, std::optional<McuId> mcuId,
                         FirmwareKind firmware = FirmwareKind::kApplication) {
    StationEvent event;
    event.kind = kind;
    event.row = std::move(row);
    event.path = std::move(path);
    event.mcuId = mcuId;
    event.firmware = firmware;
    return event;
  }
};

struct StationRules {
  // The vendor, product, and the station's own ports and MCU IDs: any other headset is skipped as
  // not this station's, and gets no record. Its device is not used.
  Selection headsets;
  bool again = false;        // flash a headset flashed with this image before
  bool recover = false;      // flash a headset that arrives in its boot firmware
  unsigned maxHeadsets = 0;  // 0: until stopped
  std::map<McuId, std::chrono::system_clock::time_point> flashedBefore;
};

// The station's figures, counted from its events.
class StationTotals {
 public:
  using Clock = std::chrono::steady_clock;
  void Count(const StationEvent& event, Clock::time_point now);

  std::size_t arrived = 0, flashed = 0, failed = 0;
  std::size_t skipped = 0;    // flashed with this image before
  std::size_t leftAlone = 0;  // not started
  // flashed / (flashed + failed), in per cent; 0 before a run ends.
  double yieldPercent() const;
  // Of the runs that ended (a headset that needs recovery had none), in seconds.
  double meanSeconds() const;
  // Since the first run began.
  double seconds(Clock::time_point now) const;
  double headsetsPerHour(Clock::time_point now) const;

 private:
  double runSeconds_ = 0;
  std::size_t timed_ = 0;
  std::optional<Clock::time_point> firstStart_;
};

class Station : private FleetObserver {
 public:
  // The fleet's observer hears steps, progress, first interrupt and ending; `tell` is called on
  // the thread that calls Run.
  Station(FleetSetup fleet, StationRules rules, std::function<void(const StationEvent&)> tell);
  ~Station() override;
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Flashes the headsets attached now, then each arrival, until the first Ctrl+C, the first
  // record the store could not keep or --max (once the runs under way end), or a signal that ends
  // the run at once. The records of every run, in order.
  std::vector<HeadsetRecord> Run(ArrivalWatch& watch);
  // The records the store could not keep.
  std::vector<HeadsetRecord> unkept() const { return fleet_->unkept(); }

 private:
  void Progress(std::size_t run, RunStage stage, std::uint32_t sent, std::uint32_t size) override;
  void Step(std::size_t run, const UpgradeEvent& event) override;
  void Ended(std::size_t run, const HeadsetRecord& record) override;
  void StoreFailed(const std::string& why) override;
  void FirstInterrupt() override;
  void Ending(const std::vector<HeadsetRecord>& records, int signal) override;

  struct Entry;
  struct EndedRun;

  void Attached(const std::string& path);
  // Looks again at the headsets whose run has ended: those no longer there were unplugged.
  void Detached();
  void Arrive(const HidInterface& interface);
  // `deferred`: it came while runs were under way, and all of them have ended since.
  void ArriveInBoot(const HidInterface& interface, bool deferred);
  void Deferred();
  // Whether a new headset is taken on (counted); one that comes while stopping is recorded.
  bool Accepting(const HidInterface& interface, const HeadsetInfo& info);
  // Whether a headset is the station's own; tells of one that is not.
  bool Own(const HidInterface& interface, const std::optional<McuId>& mcuId);
  // After the first Ctrl+C, or once the store failed.
  bool Stopping() const { return stop_.interrupts() > 0 || storeFailed_; }
  void Start(const HidInterface& interface, const HeadsetInfo& info, const std::string& row);
  void Leave(const HidInterface& interface, const HeadsetInfo& info, const std::string& row,
             Failure why);
  // Tells what the workers handed over: progress and ended runs.
  void Drain();
  bool Present(const Entry& entry, const std::vector<HidInterface>& attached);
  // What the interface at `path` tells of itself; nullopt, unopened, where a run keeps it.
  std::optional<HeadsetInfo> Look(const std::string& path);
  std::string RowFor(const HidInterface& interface);
  std::uint16_t Vid() const { return rules_.headsets.vid.value_or(kHeadsetVendorId); }

  HidBus& bus_;
  const StopRequests& stop_;
  FleetObserver& outer_;
  bool storeFailed_ = false;
  StationRules rules_;
  std::function<void(const StationEvent&)> tell_;
  Tenths tenths_;
  std::unique_ptr<Fleet> fleet_;
  std::vector<Entry> entries_;         // the headsets attached, or under way
  std::vector<std::string> deferred_;  // boot firmwares that came while runs were under way
  std::size_t arrivals_ = 0, dealt_ = 0, portless_ = 0;
  std::mutex mutex_;  // guards what the workers hand over
  std::vector<EndedRun> ended_;
  std::optional<std::string> storeFailure_;  // until the end of the run whose record it refused
  std::vector<std::pair<std::size_t, unsigned>> progress_;  // run, tenths
};

}  // namespace obrint::engine
