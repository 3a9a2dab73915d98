// Following headsets across their restarts: which boot firmware a headset restarted into, and
// whether it came back after its reboot, told by the USB port it sits on and by its MCU ID. A
// write goes only to a boot firmware that is positively the headset's own; a headset that cannot
// be told apart is left alone.
//
// While every headset of a run so far has a USB port of its own, each is followed on its port, and
// a boot firmware that answers the MCU ID report must give the headset's. Once one has none, or
// shares its port with a headset whose run is under way, the restarts take turns: one headset
// restarts while the others wait, and its boot firmware is the interface that newly appeared and
// gives its MCU ID; one that gives no MCU ID is taken only when it appeared alone while no other
// restart of the run was left unresolved. Headsets join a run as they come (a station's arrivals).
// It opens an interface only under the bus's leases, and keeps for its worker the boot firmware it
// found and the headset back after its reboot.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/clock.h"
#include "device/failure.h"
#include "device/hid_bus.h"
#include "device/reports.h"
#include "device/upgrade.h"

namespace obrint {

// Who a headset is, as found before its run.
struct HeadsetIdentity {
  std::string path;
  std::string usbPort;         // empty: the platform tells none
  std::optional<McuId> mcuId;  // nullopt: its firmware did not give it
};

// One run's headsets, followed across their restarts; one per run, shared by its workers.
class RestartTracker {
 public:
  explicit RestartTracker(HidBus& bus);
  RestartTracker(const RestartTracker&) = delete;
  RestartTracker& operator=(const RestartTracker&) = delete;

  using Ticket = std::uint64_t;  // where a headset stands in the order of turns
  // A headset joins the run, before its turn is taken. One without a port, or on the port of a
  // headset whose run is under way, makes every later restart take turns.
  Ticket Learn(const HeadsetIdentity& headset);
  // Its run has ended: its port is free for the next headset plugged in there.
  void Forget(const HeadsetIdentity& headset);
  // Whether the headsets are followed by their ports (else by turns).
  bool byPort() const;

  // A headset's time to restart. By turns it is held by one worker at a time, in the order the
  // headsets joined, from before its restart until its boot firmware is found or given up; by
  // port every worker has its own.
  class Turn {
   public:
    ~Turn();
    // Handed out only as TakeTurn's result, never moved: the hooks keep its address.
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    void End();  // the next headset may restart
    bool byPort() const { return byPort_; }

   private:
    friend class RestartTracker;
    Turn(RestartTracker& tracker, Ticket ticket);
    RestartTracker* tracker_;
    Ticket ticket_;
    bool byPort_ = true;
    std::set<std::string> bootBefore_;  // the boot interfaces there when the turn began
    bool restarted_ = false;
    bool found_ = false;
    bool unidentified_ = false;  // a new boot firmware showed up that could not be told apart
  };
  // Every headset takes its turn once, even one that is then not restarted. By turns it waits
  // until every headset that joined before has had its turn, and none followed by its port is
  // between its restart and its boot firmware.
  Turn TakeTurn(Ticket ticket);

  // Sets the hooks that find and identify `headset`'s boot firmware while `turn` is held, and
  // that end the turn once it is found. An earlier onStep hook is kept and called first.
  void Arm(UpgradeHooks& hooks, const HeadsetIdentity& headset, Turn& turn);
  // What a failed run's failure means with what the turn saw: a boot firmware that showed up but
  // could not be told to be the headset's is Failure::kNotIdentified, not kBootNotFound.
  static Failure Explain(Failure failure, const Turn& turn);

  // After the reboot: the headset's application firmware back, positively the same headset, and
  // its version, followed as its `turn` was. Failure::kNotBack when it did not come back within
  // `timeoutMs` or cannot be told apart (no port and no MCU ID).
  Result<std::uint16_t> AwaitReturn(Clock& clock, unsigned timeoutMs,
                                    const HeadsetIdentity& headset, const Turn& turn);

  // Whether a headset of the run restarted into the boot firmware at `path`.
  bool Took(const std::string& path) const;

  // The boot firmwares on the bus now that are no headset's of the run (by port; else by MCU ID
  // where they give one, else by the interfaces the run found or took): none of them was
  // touched.
  std::vector<HidInterface> Strays();

 private:
  std::vector<HidInterface> Firsts(FirmwareKind kind);
  std::optional<std::string> FindBoot(const HeadsetIdentity& headset, Turn& turn);
  void Ended(Turn& turn);  // under mutex_
  // The MCU ID the interface at `path` gives; nullopt when it does not open or answer.
  std::optional<McuId> McuIdAt(const std::string& path);

  HidBus& bus_;
  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable turnEnded_;
  bool byPort_ = true;
  Ticket nextTicket_ = 0;
  std::set<Ticket> open_;                 // the tickets whose turn has not ended
  int portTurns_ = 0;                     // turns out that follow their headset by port
  std::multiset<std::string> busyPorts_;  // the ports of the headsets whose run is under way
  int unresolved_ = 0;                    // restarts whose boot firmware was never found
  std::set<std::string> taken_;           // boot interfaces that headsets of the run restarted into
  std::set<std::string> ports_;           // the run's headsets' ports
  std::set<std::string> ownPaths_;        // the run's headsets' paths as found
  std::vector<McuId> mcuIds_;             // the run's headsets' MCU IDs, where given
};

}  // namespace obrint
