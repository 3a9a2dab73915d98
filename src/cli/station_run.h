// A station's headsets as they come and go: which arrival is flashed, which was flashed with this
// image before, which is back after its reboot, which needs recovery; every run through the
// fleet's workers. Never the same headset twice. It shows nothing: station.cpp turns what it
// tells into the live table or JSON lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/fleet.h"
#include "device/arrival_watch.h"
#include "device/headset.h"

namespace obrint::cli {

struct StationEvent {
  enum class Kind : std::uint8_t {
    kArrival,    // a headset plugged in that is not one of the station's already
    kStart,      // its run begins
    kProgress,   // `percent` of its image sent, every 10 %
    kDone,       // its run ended: `record`
    kSkip,       // not flashed: `why` (flashed with this image before: `flashedAt`)
    kRecovery,   // in its boot firmware: not flashed without --recover
    kUnplug,     // a headset whose run had ended left its port
    kLogFailed,  // the log took no record: `why`; no headset starts any more (no row)
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

// MCU IDs flashed with an image (by its SHA-256) with outcome "flashed", and when, from each
// record line of a log, read as the yield report reads it; the lines that are no record are
// passed over and counted in `passedOver`. Empty when it does not open.
std::map<McuId, std::chrono::system_clock::time_point> FlashedBefore(const std::string& logPath,
                                                                     const std::string& sha256,
                                                                     std::uint64_t& passedOver);

struct StationRules {
  std::uint16_t vid = kHeadsetVendorId;
  std::optional<std::uint16_t> pid;
  // --port and --mcu-id: the station's own headsets; any other is skipped as not this
  // station's, and gets no record.
  std::vector<std::string> usbPorts;
  std::vector<McuId> mcuIds;
  bool again = false;        // flash a headset flashed with this image before
  bool recover = false;      // flash a headset that arrives in its boot firmware
  unsigned maxHeadsets = 0;  // 0: until stopped
  std::map<McuId, std::chrono::system_clock::time_point> flashedBefore;
};

class StationRun {
 public:
  // `fleet` hooks onProgress and onEnded are the station's; `tell` is called on the thread that
  // calls Run, one event at a time.
  StationRun(FleetSetup fleet, StationRules rules, std::function<void(const StationEvent&)> tell);
  ~StationRun();
  StationRun(const StationRun&) = delete;
  StationRun& operator=(const StationRun&) = delete;

  // Flashes the headsets attached now, then each arrival the watch tells of, until the first
  // Ctrl+C or the first record the log could not take (and the runs under way have ended), or
  // --max. The records of every run, in order.
  std::vector<HeadsetRecord> Run(ArrivalWatch& watch);
  // The records the log could not take.
  std::vector<HeadsetRecord> unlogged() const { return fleet_->unlogged(); }

 private:
  struct Entry;
  struct Ended;

  void Attached(const std::string& path);
  // Looks again at the headsets whose run has ended: those no longer there were unplugged.
  void Detached();
  void Arrive(const HidInterface& interface);
  // `deferred`: it came while runs were under way, and all of them have ended since.
  void ArriveInBoot(const HidInterface& interface, bool deferred);
  void Deferred();
  // Whether a new headset is taken on (counted). One that comes while the station is stopping is
  // told, with its record of not started.
  bool Accepting(const HidInterface& interface, const HeadsetInfo& info);
  // Whether a headset is the station's own; tells of one that is not.
  bool Own(const HidInterface& interface, const std::optional<McuId>& mcuId);
  // After the first Ctrl+C, or once the log failed.
  bool Stopping() const { return signals_.interrupts() > 0 || logFailed_; }
  void Start(const HidInterface& interface, const HeadsetInfo& info, const std::string& row);
  void Leave(const HidInterface& interface, const HeadsetInfo& info, const std::string& row,
             Failure why, std::string reason = {});
  // Tells what the workers handed over: progress and ended runs.
  void Drain();
  bool Present(const Entry& entry, const std::vector<HidInterface>& attached);
  // What the interface at `path` tells of itself (nothing where it does not answer); nullopt,
  // unopened, where a run keeps it.
  std::optional<HeadsetInfo> Look(const std::string& path);
  std::string RowFor(const HidInterface& interface);
  void Tell(StationEvent event);

  HidBus& bus_;
  SignalWatch& signals_;
  bool logFailed_ = false;
  StationRules rules_;
  std::function<void(const StationEvent&)> tell_;
  std::unique_ptr<Fleet> fleet_;
  std::vector<Entry> entries_;         // the headsets attached, or under way
  std::vector<std::string> deferred_;  // boot firmwares that came while runs were under way
  std::size_t arrivals_ = 0, dealt_ = 0, portless_ = 0;
  std::mutex mutex_;  // guards what the workers hand over
  std::vector<Ended> ended_;
  std::optional<std::string> logFailure_;  // until the end of the run whose record it refused
  std::vector<std::pair<std::size_t, unsigned>> progress_;  // run, tenths
};

}  // namespace obrint::cli
