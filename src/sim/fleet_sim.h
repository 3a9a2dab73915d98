// Several simulated headsets on one bus, each at a USB port of its own: the command line's
// virtual fleet, one lock over them all so that workers on several threads can each drive their
// own. Headsets can be plugged in and out; every interface that comes or goes is told as a change.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/arrival_watch.h"
#include "device/clock.h"
#include "device/hid_bus.h"
#include "sim/headset_sim.h"

namespace obrint::sim {

struct FleetMember {
  Headset headset;
  std::string usbPort;  // empty: the platform tells none
};

// How the fleet's interfaces are named.
enum class PathScheme : std::uint8_t {
  kPerHeadset,   // each headset's own path for each firmware (as the registry names them)
  kReusedNodes,  // "/dev/hidrawN": each interface that appears takes the lowest free number, as
                 // Linux gives them, so that a path freed by one headset is soon another's
};

class VirtualFleet {
 public:
  explicit VirtualFleet(std::vector<FleetMember> members,
                        PathScheme paths = PathScheme::kPerHeadset);
  ~VirtualFleet();
  VirtualFleet(const VirtualFleet&) = delete;
  VirtualFleet& operator=(const VirtualFleet&) = delete;

  std::size_t size() const { return slots_.size(); }
  // The member's headset, for setting it up and looking at it while no worker runs.
  Headset& headset(std::size_t member);

  // Every member's interfaces, as one platform's HID stack would show them; bound for the fleet's
  // life.
  HidBus& bus();
  // The opens of an interface that another thread held under the bus's leases.
  int leaseBreaches() const { return leaseBreaches_; }
  // Moves every member's time on.
  Clock& clock();
  // Moves the member's time alone: at once (virtual time), or after really sleeping as long.
  std::unique_ptr<Clock> MemberClock(std::size_t member, bool realTime);
  // The member whose interface is at `path` now; nullopt when none is.
  std::optional<std::size_t> MemberAt(const std::string& path);

  // The user plugs the member in at its time `atMs` (its clock moves on to it), in `firmware`,
  // else the firmware it last ran; or pulls it out.
  void Plug(std::size_t member, std::uint64_t atMs, std::optional<Firmware> firmware);
  void Unplug(std::size_t member);
  // From now on, every interface that comes or goes is kept as a change (those there now are not).
  void TellChanges();
  // The changes kept, oldest first, waiting up to `wait` for one; nullopt when none came, or when
  // a member's time moved meanwhile.
  std::optional<BusChange> NextChange(std::chrono::milliseconds wait);
  // Virtual time held at `ms`: no member's clock passes it until it moves (nullopt: time is free).
  void HoldTime(std::optional<std::uint64_t> ms);
  // Whether every member being flashed has reached `ms`: each whose clock is in use, and each
  // plugged in a moment ago (its run about to begin).
  bool Reached(std::uint64_t ms);

 private:
  struct Slot;
  class Bus;
  class Device;
  class AllClock;
  class OneClock;

  // Under the lock: a late boot firmware shows up once another member has restarted since it
  // began to wait, the paths follow who is on the bus, and what came or went is told.
  void Settle();
  // kReusedNodes: the numbers follow who is on the bus.
  void Renumber();
  std::string PathOf(const Slot& slot) const;

  std::atomic<int> leaseBreaches_{0};
  std::mutex mutex_;
  std::condition_variable moved_;  // a change, or a member's time
  bool telling_ = false;           // changes are kept once someone asks for them
  std::deque<BusChange> changes_;
  std::optional<std::uint64_t> heldAt_;
  PathScheme paths_;
  // Held by pointer: each slot's bus refers to its headset.
  std::vector<std::unique_ptr<Slot>> slots_;
  std::unique_ptr<Bus> bus_;
  std::unique_ptr<AllClock> clock_;
};

}  // namespace obrint::sim
