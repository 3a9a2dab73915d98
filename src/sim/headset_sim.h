// A simulated headset: the application and boot firmware as the host sees them through feature
// reports, with fault injection and a log of every transfer.
//
// One model serves the native tests (through SimHidLink and SimClock below), the test-double
// hid.dll of the Wine tests and the command line's virtual headset. Time is virtual: it moves only
// through Advance(), which SimClock calls for every wait of an operation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/hid_device.h"
#include "core/ports.h"

namespace obrint::sim {

enum class Firmware : std::uint8_t { kApplication, kBoot };

struct HeadsetConfig {
  std::uint16_t applicationProductId = 0x0021;
  std::uint16_t applicationVersion = 0x0025;
  std::uint16_t bootVersion = 0x0102;
  std::array<std::uint8_t, 12> mcuId = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                        0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
  std::uint8_t runMode = 0xFD;
  // The application firmware answers the Restart report only under report ID 6.
  bool restartOnlyAsReport6 = false;
  Firmware startIn = Firmware::kApplication;
  // How long the headset stays off the bus when it restarts.
  unsigned restartMs = 500;
};

struct FaultPlan {
  std::vector<std::uint8_t> refusedReports;  // every get and set of these IDs fails
  int failTransfer = 0;           // the Nth transfer (1-based, counted over gets and sets) fails
  int wrongSumForBlock = -1;      // the answer to Data block k (0-based) carries a wrong sum
  bool wrongTotal = false;        // the answer to Finish carries a wrong image total
  bool staysAwayAfterRestart = false;  // a restart takes the headset off the bus for good
  int vanishAfterTransfer = 0;    // the headset leaves the bus for good after the Nth transfer
};

struct TransferRecord {
  enum class Direction : std::uint8_t { kGet, kSet };
  Direction direction;
  std::uint8_t reportId;             // byte 0 as the host passed it
  std::size_t length;                // as the host passed it
  std::vector<std::uint8_t> bytes;   // set: what the host sent; get: what the headset answered
  bool ok;
  Firmware firmware;                 // the firmware that was running
};

class Headset {
 public:
  explicit Headset(HeadsetConfig config = {});

  HeadsetConfig& config() { return config_; }
  FaultPlan& faults() { return faults_; }

  // On the bus, and with which identity. Every restart (and every return to the bus) gives the
  // headset a new generation: a handle opened under an older one no longer reaches it.
  bool present() const;
  Firmware firmware() const;
  std::uint16_t productId() const;
  std::uint32_t generation() const;
  // The interface path, as discovery builds it: "\\.\hid#vid_2833&pid_XXXX#...#{4d1e55b2-...}".
  std::string interfacePath() const;

  // Feature report traffic through a handle of the given generation.
  bool GetFeature(std::uint32_t generation, std::uint8_t* report, std::size_t length);
  bool SetFeature(std::uint32_t generation, const std::uint8_t* report, std::size_t length);

  // Moves virtual time on: a restart in progress completes once restartMs have passed.
  void Advance(unsigned ms);
  std::uint64_t nowMs() const;

  const std::vector<TransferRecord>& log() const;
  void clearLog();

  // What the boot firmware received, in order (the data bytes of the Data packets), and the image
  // that the last confirmed Finish and Reboot made the running application firmware.
  const std::vector<std::uint8_t>& received() const;
  const std::vector<std::uint8_t>& flashed() const;
  int restarts() const;

  // The whole state, configuration, faults and log included, as text; for the test-double hid.dll
  // and the command line, whose headset must outlive one process.
  std::string Save() const;
  static std::optional<Headset> Load(std::string_view text);

 private:
  HeadsetConfig config_;
  FaultPlan faults_;
  // ... implementation state ...
};

// The HID link over one simulated headset, counting what the operations hold and release.
class SimHidLink : public HidLink {
 public:
  explicit SimHidLink(Headset& headset);

  std::unique_ptr<HidDevice> OpenHidDevice(const std::string& path) override;
  void LoadHidLibrary() override;
  void FreeHidLibrary() override;
  std::optional<std::string> FindHidDevicePath(std::string_view classGuidText, std::uint16_t vid,
                                               std::uint16_t pid) override;

  int openHandles() const;   // handles opened and not yet closed
  int opens() const;         // successful opens so far
  int loads() const;         // LoadHidLibrary calls that bound the library
  int frees() const;         // FreeHidLibrary calls that released it
  bool bound() const;
  int searches() const;      // FindHidDevicePath calls
};

// Virtual time for the operations: every wait advances the headset's clock.
class SimClock : public Clock {
 public:
  explicit SimClock(Headset& headset);
  void Sleep(unsigned ms) override;
  std::uint64_t sleptMs() const;   // sum of all waits
  const std::vector<unsigned>& waits() const;
};

}  // namespace obrint::sim
