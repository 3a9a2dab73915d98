// The virtual fleet's plug script: headsets plugged in and pulled out at given times, to rehearse
// a station. As an ArrivalWatch it plays the script and tells every interface that comes or goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/fleet_sim.h"

namespace obrint::sim {

struct PlugStep {
  std::uint64_t atMs = 0;
  bool plug = true;  // else unplug
  std::size_t member = 0;
  std::optional<Firmware> firmware;  // plugged in: the firmware it starts; else the one it last ran
};

// One step a line, "MS plug N", "MS plug N boot", "MS unplug N", members counted from 1; "#"
// starts a comment. nullopt, with `problem` naming the line, for anything else or a member above
// `members`. The steps come out in the order of their times.
std::optional<std::vector<PlugStep>> ParsePlugScript(std::string_view text, std::size_t members,
                                                     std::string& problem);
// Every member plugged in, one after another, `gapMs` apart from 0 on.
std::vector<PlugStep> PlugInTurn(std::size_t members, unsigned gapMs);

class PlugWatch : public ArrivalWatch {
 public:
  // Takes off the bus every member but those that the script first unplugs (none without a
  // script). On real time a step comes at its time since the watch began; on virtual time, once
  // every member being flashed has reached it (their clocks wait for the step).
  PlugWatch(std::shared_ptr<VirtualFleet> fleet, std::vector<PlugStep> steps, bool realTime);
  ~PlugWatch() override;
  PlugWatch(const PlugWatch&) = delete;
  PlugWatch& operator=(const PlugWatch&) = delete;

  std::optional<BusChange> Next(unsigned timeoutMs) override;

 private:
  bool Due(const PlugStep& step) const;
  void Play(const PlugStep& step);

  std::shared_ptr<VirtualFleet> fleet_;
  std::vector<PlugStep> steps_;
  bool realTime_;
  std::size_t next_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace obrint::sim
