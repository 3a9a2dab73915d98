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

#include "core/ports.h"
#include "sim/headset_sim.h"

namespace obrint::sim {

struct FleetMember {
  Headset headset;
  std::string port;  // empty: the platform tells none
};

class Fleet {
 public:
  explicit Fleet(std::vector<FleetMember> members);
  ~Fleet();
  Fleet(const Fleet&) = delete;
  Fleet& operator=(const Fleet&) = delete;

  std::size_t size() const;
  // The member's headset, for setting it up and looking at it while no worker runs.
  Headset& headset(std::size_t member);
  const std::string& port(std::size_t member) const;

  // Every member's interfaces, as one platform's HID stack would show them.
  HidLink& link();
  // Moves every member's time on.
  Clock& clock();
  // Moves the member's time alone: at once (virtual time), or after really sleeping as long.
  std::unique_ptr<Clock> MemberClock(std::size_t member, bool realTime);

  struct Interface {
    std::string path;
    std::uint16_t pid = 0;
    std::string port;
  };
  // The members on the bus, in order.
  std::vector<Interface> Attached() const;
  // The member whose interface is at `path` now; nullopt when none is.
  std::optional<std::size_t> MemberAt(const std::string& path) const;

 private:
  struct Slot;
  class Link;
  class AllClock;
  class OneClock;

  mutable std::mutex mutex_;
  // Held by pointer: each slot's link refers to its headset.
  std::vector<std::unique_ptr<Slot>> slots_;
  std::unique_ptr<Link> link_;
  std::unique_ptr<AllClock> clock_;
};

}  // namespace obrint::sim
