// Where the simulated headset of the test-double hid.dll lives between processes, and how its
// interfaces show up as device paths.
//
// The headset is one obrint::sim::Headset, kept as its Save() text in a state file. Every entry
// of the double, and every test that configures or inspects the headset, loads it, works on it
// and saves it again under a lock shared by all processes.
//
// Each of the headset's two interfaces (the application firmware's product ID and the boot
// firmware's 0x0001) has an interface directory next to the state file, "<state>.if-XXXX", which
// exists exactly while that interface is on the bus, and holds one node file,
// "<state>.if-XXXX\node". The Wine prefix links the interface's device name to that node, so
// CreateFileA on the device path opens the node while the directory exists and fails otherwise.
// Taking an interface off the bus renames its directory away, which works while the program still
// holds a handle to the node; bringing it back creates a new directory and node, so a handle opened
// before stays on the old node. The node says which headset generation it belongs to; a handle
// reaches the headset only while that generation is current.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sim/headset_sim.h"

namespace obrint::hiddouble {

// The state file: this variable when set (a Windows path, or a Unix path under Wine), else
// "obrint-sim.state" in the double's own directory.
inline constexpr wchar_t kStateVariable[] = L"OBRINT_SIM_STATE";
inline constexpr wchar_t kDefaultStateName[] = L"obrint-sim.state";

inline constexpr char kHidClassGuidLower[] = "4d1e55b2-f16f-11cf-88cb-001111000030";

// A path as Windows sees it: a Unix path ("/x/y") goes through Wine's root drive, Z:.
std::wstring ToWindowsPath(std::wstring_view path);
// The Unix path of a Windows path, under Wine; empty elsewhere.
std::string ToUnixPath(const std::wstring& windowsPath);
std::wstring Widen(std::string_view ascii);

// $OBRINT_SIM_STATE, or kDefaultStateName in `defaultDirectory`.
std::wstring StatePathFor(const std::wstring& defaultDirectory);

// The registry's name for an interface of the simulated headset, as listed under the HID class:
// "##?#HID#VID_2833&PID_XXXX#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}".
std::string InterfaceSubkeyName(std::uint16_t pid);
// Its device name: what follows "\\.\" in its path, in lower case, as sim::Headset names it.
std::string InterfaceDeviceName(std::uint16_t pid);
// The interface's directory and node (see above).
std::wstring InterfaceDirectory(const std::wstring& statePath, std::uint16_t pid);
std::wstring InterfaceNode(const std::wstring& statePath, std::uint16_t pid);

// Which interface an open node handle belongs to.
struct InterfaceIdentity {
  std::uint16_t pid = 0;
  std::uint32_t generation = 0;
};
std::optional<InterfaceIdentity> IdentifyInterface(HANDLE handle);

// Serialises the processes that use one state file. Waits as long as it takes; a lock left
// behind by a process that ended counts as free.
class StateLock {
 public:
  explicit StateLock(const std::wstring& statePath);
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
  ~StateLock();
  bool held() const { return held_; }

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false;
};

// When a state file was last written, and how long it is: enough to tell whether anyone has
// written it since.
struct StateStamp {
  std::uint64_t writeTime = 0;  // FILETIME units
  std::uint64_t size = 0;
  bool operator==(const StateStamp&) const = default;
};

// Moves the headset's virtual time on by the real time since `savedAt` (FILETIME units).
void CatchUp(sim::Headset& headset, std::uint64_t savedAt);

// The node text of the interface the headset is on, or will be on once a restart in progress has
// completed; empty when it is off the bus for good.
std::string LiveInterface(const sim::Headset& headset);

class SimStore {
 public:
  explicit SimStore(std::wstring statePath);
  const std::wstring& statePath() const { return statePath_; }

  enum class LoadResult : std::uint8_t { kLoaded, kMissing, kUnreadable };
  // The saved headset. With `catchUp`, its virtual time first moves on by the real time since it
  // was saved, so that restarts complete and answers become ready as they would in a headset.
  // Call with the lock held.
  LoadResult Load(bool catchUp, std::optional<sim::Headset>& headset) const;
  // Saves the headset and puts its interfaces on or off the bus to match: each interface is on
  // the bus as it will be once a restart in progress has completed, so a program that waits for
  // the restart finds it without calling hid.dll. Call with the lock held.
  bool Save(const sim::Headset& headset) const;
  // The two halves of Save.
  bool SaveState(const sim::Headset& headset) const;
  void SyncInterfaces(const sim::Headset& headset) const;
  // The state file's stamp; nullopt when there is none.
  std::optional<StateStamp> Stamp() const;

  // Loads (a new default headset when there is no state file), applies `change` and saves, under
  // the lock. False when the state file cannot be read or written.
  bool Update(const std::function<void(sim::Headset&)>& change, bool catchUp = false) const;
  // The saved headset, read under the lock; nullopt when there is none or it does not parse.
  std::optional<sim::Headset> Read() const;

 private:
  void SweepRetiredInterfaces() const;

  std::wstring statePath_;
};

}  // namespace obrint::hiddouble
