// A simulated headset: the application and boot firmware as the host sees them through feature
// reports, with fault injection and a log of every transfer. One model serves the native tests
// (through SimBus and SimClock below), the test-double hid.dll of the Wine tests and the command
// line's virtual headsets. Time is virtual: it moves only through Advance(), which SimClock calls
// for every wait of an operation.
//
// Where the host side leaves it open, the headset is strict: a transfer of another length than
// the report's own (byte 0 included; LengthOf in headset_sim.cpp), an unknown ID, a set of a
// read-only report, or a report the running firmware does not serve fails, and a failed get
// leaves the caller's buffer untouched. The application firmware serves Restart (0x58, or only 6
// with restartOnlyAsReport6), the run mode 0x59 (read back as written, run from the next restart:
// activeRunMode()), the version 0x5F, the MCU ID 0x60, and echoes 0x02..0x0A. The boot firmware
// (product ID 0x0001) serves only 0x5F, 0x60 and the transfer report 0x61, which is how the host
// tells it from the application.
//
// The transfer over 0x61: Begin drops what came before; the headset sums each Data block itself
// (BlockSum); Finish verifies the image when the totals match, every block's sums matched, no
// packet was lost and the Begin size arrived; Reboot makes a verified image flashed(). A Data
// packet without Begin, after Finish, within 10 ms of Begin (still erasing) or over 56 bytes is
// lost, and the image with it. A get answers the packets since the boot firmware started (a host
// that carries its buffer over visibly sends them on) and the last sum once ready: a block sum
// 10 ms after its Data, a total 120 ms after Finish, 0 before (AnswerTransfer).
//
// A restart (set 0x58/6, Reboot) succeeds, then takes the headset off the bus at once (a new
// generation: every open handle goes stale) and brings it back restartMs later, in virtual time,
// with another. Faults count transfers over every call that reaches the headset, stale handles
// and failures included; a failing transfer has no effect.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/hid_device.h"
#include "device/clock.h"
#include "device/hid_bus.h"

namespace obrint::sim {

enum class Firmware : std::uint8_t { kApplication, kBoot };

struct HeadsetConfig {
  std::uint16_t applicationProductId = 0x0021;
  std::uint16_t applicationVersion = 0x0025;
  std::uint16_t bootVersion = 0x0102;
  std::array<std::uint8_t, 12> mcuId = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                        0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
  // The run mode at power-up.
  std::uint8_t runMode = 0xFD;
  // The application firmware answers the Restart report only under report ID 6.
  bool restartOnlyAsReport6 = false;
  Firmware startIn = Firmware::kApplication;
  // How long the headset stays off the bus when it restarts.
  unsigned restartMs = 500;
  // Which of several headsets on one bus: each unit's interface paths are its own.
  std::uint16_t unit = 0;
  // The boot firmware answers the MCU ID report too (as the application firmware does).
  bool bootGivesMcuId = true;
};

struct FaultPlan {
  std::vector<std::uint8_t> refusedReports;  // every get and set of these IDs fails
  int failTransfer = 0;       // the Nth transfer (1-based, counted over gets and sets) fails
  int wrongSumForBlock = -1;  // the answer to Data block k (0-based, since Begin) has a wrong sum
  bool wrongTotal = false;    // the answer to Finish carries a wrong image total
  bool staysAwayAfterRestart = false;  // a restart takes the headset off the bus for good
  bool staysAwayAfterReboot = false;   // the Reboot into the new firmware does, alone
  int vanishAfterTransfer = 0;         // the headset leaves the bus for good after the Nth transfer
  // A restart into the boot firmware completes only when CompleteRestart() is called (a fleet
  // calls it when another of its headsets restarts): a boot firmware that shows up late.
  bool bootWaitsForAnother = false;
};

struct TransferRecord {
  enum class Direction : std::uint8_t { kGet, kSet };
  Direction direction;
  std::uint8_t reportId;  // byte 0 as the host passed it
  std::size_t length;     // as the host passed it
  // set: what the host sent; get: what the headset answered (empty when the get failed)
  std::vector<std::uint8_t> bytes;
  bool ok;
  Firmware firmware;       // the firmware that was running (or last ran, while off the bus)
  std::uint64_t atMs = 0;  // virtual time of the transfer
};

// The transfer state of the boot firmware.
struct BootTransfer {
  bool begun = false;
  std::uint16_t size = 0;  // from Begin
  std::uint64_t begunAtMs = 0;
  int dataPackets = 0;  // Data packets since Begin, lost ones included
  std::uint32_t sumOfBlockSums = 0;
  bool broken = false;        // a packet was lost or a sum disagreed
  bool verified = false;      // the last Finish matched
  bool finished = false;      // a Finish came since Begin
  std::uint16_t packets = 0;  // 0x61 packets since the boot firmware started
  std::uint8_t lastCommand = 0;
  std::uint16_t answerSum = 0;  // what the next read gives once ready
  std::uint64_t answerReadyAtMs = 0;
};

class Headset {
 public:
  explicit Headset(HeadsetConfig config = {});

  HeadsetConfig& config() { return config_; }
  const HeadsetConfig& config() const { return config_; }
  FaultPlan& faults() { return faults_; }
  const FaultPlan& faults() const { return faults_; }

  // On the bus, and with which identity. Every restart (and every return to the bus) gives the
  // headset a new generation: a handle opened under an older one no longer reaches it.
  bool present() const { return present_; }
  Firmware firmware() const { return firmware_; }
  std::uint16_t productId() const;
  std::uint32_t generation() const { return generation_; }
  // The interface path, as discovery builds it: "\\.\hid#vid_2833&pid_xxxx#...#{4d1e55b2-...}",
  // in lower case, with the current product ID and an instance of the unit's own.
  std::string interfacePath() const;

  // Feature report traffic through a handle of the given generation.
  bool GetFeature(std::uint32_t generation, std::uint8_t* report, std::size_t length);
  bool SetFeature(std::uint32_t generation, const std::uint8_t* report, std::size_t length);

  // Moves virtual time on: a restart in progress completes once restartMs have passed (at the
  // first Advance, even of 0 ms, when restartMs is 0).
  void Advance(unsigned ms);
  std::uint64_t nowMs() const { return nowMs_; }

  // A restart that waits for another (FaultPlan::bootWaitsForAnother) completes now.
  bool waitingForAnother() const { return waitingForAnother_; }
  void CompleteRestart();

  // The user pulls the cable: off the bus at once, any restart in progress abandoned (a reboot
  // into the application firmware counts as done: the image is in place).
  void Unplug();
  // The user plugs it in (again): `firmware` starts, by default the firmware it last ran (the
  // boot firmware when it was unplugged there: its application is erased), in the last run mode
  // written.
  void PlugIn(std::optional<Firmware> firmware = std::nullopt);

  const std::vector<TransferRecord>& log() const { return log_; }
  void ClearLog() { log_.clear(); }

  // What the boot firmware received since the last Begin, in order (the data bytes of the Data
  // packets), and the image that the last verified Finish and Reboot made the application firmware.
  const std::vector<std::uint8_t>& received() const { return received_; }
  const std::vector<std::uint8_t>& flashed() const { return flashed_; }
  int restarts() const { return restarts_; }

  std::uint8_t runMode() const { return runMode_; }              // as report 0x59 reads it
  std::uint8_t activeRunMode() const { return activeRunMode_; }  // the mode the firmware runs in
  const BootTransfer& bootTransfer() const { return boot_; }

  // The whole state, configuration, faults and log included, as text; for the test-double hid.dll
  // and the command line, whose headset must outlive one process. Load gives nullopt for text
  // that Save did not write.
  std::string Save() const;
  static std::optional<Headset> Load(std::string_view text);

 private:
  bool Transfer(TransferRecord::Direction direction, std::uint32_t generation, std::uint8_t* report,
                const std::uint8_t* sent, std::size_t length);
  bool Serve(TransferRecord::Direction direction, std::uint8_t* report, const std::uint8_t* sent,
             std::size_t length);
  bool AnswerIdentity(std::uint8_t id, std::uint16_t version, std::uint8_t* report) const;
  bool ServeApplication(TransferRecord::Direction direction, std::uint8_t id, std::uint8_t* report,
                        const std::uint8_t* sent);
  bool ServeBoot(TransferRecord::Direction direction, std::uint8_t id, std::uint8_t* report,
                 const std::uint8_t* sent);
  void ReceiveTransferPacket(const std::uint8_t* packet);
  void AnswerTransfer(std::uint8_t* report) const;
  void StartRestart(Firmware into);
  void LeaveBus();
  void Start(Firmware firmware);
  // Calls visit(key, member) for every saved member but the log; Self is Headset or const Headset.
  template <typename Self, typename Visit>
  static void VisitFields(Self& self, Visit&& visit);

  HeadsetConfig config_;
  FaultPlan faults_;

  std::uint64_t nowMs_ = 0;
  bool present_ = false;
  Firmware firmware_ = Firmware::kApplication;
  std::uint32_t generation_ = 0;
  bool goneForGood_ = false;
  bool restartPending_ = false;
  bool waitingForAnother_ = false;
  Firmware restartInto_ = Firmware::kApplication;
  std::uint64_t restartDueMs_ = 0;
  int restarts_ = 0;
  int transfers_ = 0;
  std::uint8_t runMode_ = 0;
  std::uint8_t activeRunMode_ = 0;
  // The last set of each of reports 0x02..0x0A, index id - 2; empty before any.
  std::array<std::vector<std::uint8_t>, 9> echoReports_;
  BootTransfer boot_;
  std::vector<std::uint8_t> received_;
  std::vector<std::uint8_t> flashed_;
  std::vector<TransferRecord> log_;
};

// The HID bus with one simulated headset on it, counting what the operations hold and release.
// Its sessions bind a library the way hid.dll's binding does: process-wide, counting its users (a
// session opened while bound binds nothing), and released when the last session ends. Devices it
// opens share its counters and may outlive it; the headset must outlive both.
class SimBus : public HidBus {
 public:
  explicit SimBus(Headset& headset, std::string usbPort = {});

  std::vector<HidInterface> Enumerate(std::uint16_t vid) override;
  std::unique_ptr<HidDevice> Open(const std::string& path) override;
  // Like the registry search: a presence test that opens and closes the interface.
  std::optional<std::string> Find(std::uint16_t vid, std::uint16_t pid) override;
  std::unique_ptr<Session> OpenSession() override;

  int openHandles() const { return counters_->openHandles; }  // opened and not yet closed
  int failedOpens() const { return counters_->failedOpens; }  // opens refused so far
  int loads() const { return counters_->loads; }              // sessions that bound the library
  int frees() const { return counters_->frees; }              // session ends that released it
  bool bound() const { return counters_->users > 0; }
  // Transfers tried while unbound (they never reach the headset).
  int unboundTransfers() const { return counters_->unboundTransfers; }

  struct Counters {
    int openHandles = 0;
    int failedOpens = 0;
    int loads = 0;
    int frees = 0;
    int users = 0;  // sessions open
    int unboundTransfers = 0;
  };

 private:
  Headset& headset_;
  std::string usbPort_;
  std::shared_ptr<Counters> counters_;
};

// Virtual time for the operations: every wait advances the headset's clock.
class SimClock : public Clock {
 public:
  explicit SimClock(Headset& headset);
  void Sleep(unsigned ms) override;
  std::uint64_t sleptMs() const { return sleptMs_; }  // sum of all waits
  const std::vector<unsigned>& waits() const { return waits_; }

 private:
  Headset& headset_;
  std::vector<unsigned> waits_;
  std::uint64_t sleptMs_ = 0;
};

}  // namespace obrint::sim
