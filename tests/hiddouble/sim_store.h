// Where the simulated headset behind the test-double hid.dll lives between processes.
//
// The headset is one obrint::sim::Headset, kept as its Save() text in a state file beside the
// double, and loaded, changed and saved again under one lock by the double at every call and by
// the tests that configure or inspect it. Loading moves its virtual time on by the real time since
// the last save, so restarts complete as they would in a headset.
//
// Each of its two interfaces (the application firmware's product ID, the boot firmware's 0x0001)
// has a directory "<state>.if-XXXX" that exists exactly while that interface is on the bus, with
// one file "node" naming the headset generation it was created for. The prefix links the
// interface's device name to that node (install-sim.sh), so CreateFile on the device path opens
// while the interface is on the bus and fails otherwise, and a handle opened before a restart stays
// on the old node: it reaches the headset no more than a stale handle of a real device would.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "sim/headset_sim.h"

namespace obrint::hiddouble {

// The folder of the double (install-sim.sh's <run-dir>), where the tests copy the programs they
// start, with backslashes as the open-file dialog wants them.
std::wstring RunDirectory();

// The generation of the interface node that `handle` (an overlapped handle of the program) is
// open on; nullopt when it is no node of the simulated headset.
std::optional<std::uint32_t> NodeGeneration(HANDLE handle);

class SimStore {
 public:
  // Loads the headset (a new one when there is no state file), applies `change` and saves it.
  // False when the state cannot be read or written, else what `change` returned.
  bool Update(const std::function<bool(sim::Headset&)>& change) const;
  // Replaces the headset, as if a new one had been plugged in.
  bool Reset(const sim::Headset& headset) const {
    return Update([&](sim::Headset& saved) { return saved = headset, true; });
  }
  // The headset as it stands; nullopt when there is none or it does not parse.
  std::optional<sim::Headset> Read() const;

 private:
  std::optional<sim::Headset> Load() const;
  // Puts each interface on or off the bus as it will be once a restart in progress has completed,
  // so a program that waits for the restart finds it without calling hid.dll.
  void SyncInterfaces(const sim::Headset& headset) const;

  const std::wstring statePath_ = RunDirectory() + L"\\obrint-sim.state";
};

}  // namespace obrint::hiddouble
