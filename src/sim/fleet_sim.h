// Several simulated headsets on one bus, each at a USB port of its own: the command line's
// virtual fleet. One lock guards them all, so that workers on several threads can each drive
// their own headset while another looks over the bus.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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

class Fleet {
 public:
  explicit Fleet(std::vector<FleetMember> members, PathScheme paths = PathScheme::kPerHeadset);
  ~Fleet();
  Fleet(const Fleet&) = delete;
  Fleet& operator=(const Fleet&) = delete;

  std::size_t size() const;
  // The member's headset, for setting it up and looking at it while no worker runs.
  Headset& headset(std::size_t member);
  const std::string& usbPort(std::size_t member) const;

  // Every member's interfaces, as one platform's HID stack would show them. Its library is bound
  // for the fleet's life: a session holds nothing.
  HidBus& bus();
  // Moves every member's time on.
  Clock& clock();
  // Moves the member's time alone: at once (virtual time), or after really sleeping as long.
  std::unique_ptr<Clock> MemberClock(std::size_t member, bool realTime);
  // The member whose interface is at `path` now; nullopt when none is.
  std::optional<std::size_t> MemberAt(const std::string& path);

 private:
  struct Slot;
  class Bus;
  class AllClock;
  class OneClock;

  // Brings the bus up to date: a late boot firmware shows up once another member has restarted
  // since it began to wait, and the paths follow who is on the bus. Under the lock.
  void Settle();
  std::string PathOf(const Slot& slot) const;

  std::mutex mutex_;
  PathScheme paths_;
  // Held by pointer: each slot's bus refers to its headset.
  std::vector<std::unique_ptr<Slot>> slots_;
  std::unique_ptr<Bus> bus_;
  std::unique_ptr<AllClock> clock_;
};

}  // namespace obrint::sim
