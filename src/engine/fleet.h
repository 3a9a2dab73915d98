// Flashing headsets at once: one worker per headset, each running the one upgrade sequence as a
// single flash does, followed across its restarts (device/follow.h); headsets may join while
// others run (a station's arrivals). Each record is kept in the run's place (its log, with the
// database's outbox over it) as soon as its run ends; a signal that ends the run at once first
// gives every headset left a record of where it stood.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "database/outbox.h"
#include "device/follow.h"
#include "engine/host.h"
#include "engine/loaded_image.h"
#include "engine/selection.h"
#include "records/store.h"

namespace obrint::engine {

using records::HeadsetRecord;
using records::RunStage;

// What a fleet tells of its runs: from the workers' threads, one call at a time, unless said.
class FleetObserver {
 public:
  virtual ~FleetObserver() = default;
  // Where a run (its index among the records) stands, the image's bytes sent, and its size.
  virtual void Progress(std::size_t, RunStage, std::uint32_t, std::uint32_t) {}
  virtual void Step(std::size_t, const UpgradeEvent&) {}
  // A run's record, as it was kept.
  virtual void Ended(std::size_t, const HeadsetRecord&) {}
  // Once: the first record the store could not keep, and the system's reason.
  virtual void StoreFailed(const std::string&) {}
  // Whether to reboot a run once its image is verified (by default, yes). Not confirmed because a
  // signal came, the headset is recorded as interrupted.
  virtual bool ConfirmReboot(std::size_t) { return true; }
  // On the thread that watches, as soon as the first Ctrl+C comes.
  virtual void FirstInterrupt() {}
  // On the thread that watches, when a signal ends the run at once: every record, in order, each
  // kept, and the signal; the workers are left as they stand (the process is to end).
  virtual void Ending(const std::vector<HeadsetRecord>&, int) {}
};

// An observer that hears nothing and confirms every reboot.
FleetObserver& Nobody();

// A run's progress in tenths of its image: each tenth once, for every 10 %.
class Tenths {
 public:
  std::optional<unsigned> Next(std::size_t run, RunStage stage, std::uint32_t sent,
                               std::uint32_t size);

 private:
  std::vector<unsigned> told_;
};

// Where a run's records go: the setting each is written with, the log, the outbox over the log.
struct RunPlace {
  records::RunSetting setting;
  std::unique_ptr<records::LogFile> log;
  std::unique_ptr<database::Outbox> outbox;

  // Where each record is kept: the outbox, else the log; null for neither.
  records::RecordStore* store() const;
  // Once the records are kept: the database's last chance to take those that wait, its state
  // then, its listener let go; nullopt without a database.
  std::optional<database::Link> CloseOutbox() const;
};

// The log `log` opened for appending and the outbox to `conninfo` over it, each none when empty
// (an outbox needs the log). Fails with the words in `detail`.
Result<RunPlace> OpenRunPlace(records::RunSetting setting, const std::string& log,
                              const std::string& conninfo, std::string& detail);

struct FleetSetup {
  Host& host;
  const LoadedImage& image;
  const StopRequests& stop;
  records::RunSetting setting;
  unsigned timeoutMs = 10000;  // for the boot firmware to show up, and for the headset to return
  records::RecordStore* store = nullptr;  // each record kept as its run ends
  FleetObserver* observer = nullptr;
};

class Fleet {
 public:
  explicit Fleet(FleetSetup setup);
  // Waits for every worker.
  ~Fleet();
  Fleet(const Fleet&) = delete;
  Fleet& operator=(const Fleet&) = delete;

  // Starts a worker per target, all known to the tracker before the first restarts; the index of
  // the first among the records.
  std::size_t Start(const std::vector<Target>& targets);
  // Waits up to `pace` for a run to end, and minds the stop requests: the first Ctrl+C is told
  // once; a second one (or another signal) ends the run at once. The number of runs under way.
  std::size_t Watch(std::chrono::milliseconds pace);
  // Flashes every target at once and waits for all; a record per target, in order.
  std::vector<HeadsetRecord> Flash(const std::vector<Target>& targets);
  // Records a target left alone for `why` (needs recovery: failed; else not started) as ended.
  std::size_t Leave(const Target& target, Failure why);
  // Every record so far, in order; those of runs under way as they stand.
  std::vector<HeadsetRecord> records() const;
  // Whether a headset of the run restarted into the boot firmware at `path`.
  bool Took(const std::string& path) const { return tracker_.Took(path); }
  bool byPort() const { return tracker_.byPort(); }
  // Boot firmwares seen at the end that no headset of the run restarted into: none was touched.
  const std::vector<HidInterface>& strays() const { return strays_; }
  // The records the store could not keep, in the order they ended.
  std::vector<HeadsetRecord> unkept() const;

 private:
  // A target's record and place; under the lock.
  std::size_t Add(const Target& target);
  void Work(std::size_t index, RestartTracker::Ticket ticket);
  void Stage(std::size_t index, RunStage stage, std::uint32_t sent = 0);
  void Finish(std::size_t index, HeadsetRecord record);
  // Keeps a record in the store; under the lock.
  void Keep(std::size_t index);
  // Records every run not yet ended as it stands, and tells so.
  void End(int signal);

  FleetSetup setup_;
  FleetObserver& observer_;
  RestartTracker tracker_;
  std::deque<Target> targets_;  // where each worker finds its own
  std::vector<std::thread> workers_;
  bool told_ = false;         // of the first Ctrl+C
  mutable std::mutex mutex_;  // guards what follows, and the calls to the observer
  std::condition_variable changed_;
  std::vector<HeadsetRecord> records_;
  std::vector<RunStage> stages_;
  std::size_t ended_ = 0;
  bool closed_ = false;  // a signal took over the records
  std::vector<std::size_t> unkept_;
  std::vector<HidInterface> strays_;
};

}  // namespace obrint::engine
