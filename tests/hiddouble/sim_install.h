// Puts a simulated headset into the Wine prefix for a program under test, from a test process
// running under Wine: the test-double hid.dll beside the program, the headset's interfaces in the
// registry's list of HID interfaces, and their device names linked to the interface nodes of the
// state file (see sim_store.h).
#pragma once

#include <cstdint>
#include <string>

#include "hiddouble/sim_store.h"
#include "sim/headset_sim.h"

namespace obrint::hiddouble {

// The test-double hid.dll built with these tests.
std::wstring HidDoublePath();

// The registry key under which the interfaces of the HID class are listed.
inline constexpr char kHidInterfaceListKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4D1E55B2-F16F-11CF-88CB-001111000030}";

struct SimInstallation {
  std::wstring programDirectory;  // where hid.dll went
  std::wstring statePath;
  std::uint16_t applicationPid = 0;
};

// Copies the double into `programDirectory` as hid.dll, lists the interfaces of the headset's
// application product ID and of the boot product ID 0x0001 under the HID class, links their device
// names in the prefix to the interface nodes of `statePath`, and saves `headset` there, which puts
// the interface it runs on on the bus. A program started from `programDirectory` with
// OBRINT_SIM_STATE set to `statePath` (or with `statePath` the default one, beside the double)
// then finds and talks to that headset. Empty error text on success; what went wrong otherwise.
std::string InstallSimulatedHeadset(const std::wstring& programDirectory,
                                    const std::wstring& statePath, const sim::Headset& headset);

// Takes the interfaces out of the registry and the prefix again; the files stay.
void UninstallSimulatedHeadset(const SimInstallation& installation);

// Lists one interface name under the HID class, and takes it out again.
bool AddHidInterfaceKey(const std::string& subkeyName);
void RemoveHidInterfaceKey(const std::string& subkeyName);

// The prefix's device namespace (its dosdevices directory) as a Unix path with a trailing '/';
// empty when not running under Wine.
std::string DosDevicesDirectory();

// Runs a shell command line on the Unix side and waits until it has finished (up to
// `timeoutMs`). True when it ran to its end.
bool RunUnixShell(const std::string& script, unsigned timeoutMs = 10000);

}  // namespace obrint::hiddouble
