// The window's firmware upgrade against the simulated headset, every transfer and open of which
// the input may refuse, corrupt or follow by the headset leaving the bus; the user may decline the
// reboot. Input: two bytes of image size, one byte of flags, then one byte per open or transfer
// (past the end: honest).
//
// Invariants: the run succeeds exactly when the headset flashed the image (which the simulator
// does only for a Begin, every block, a matching total and the Reboot, all in order), never
// without the confirmed reboot; every handle is closed, the HID library released as often as it
// was bound and never used unbound, the image file closed; caption and last box tell the outcome.
#include <cstddef>
#include <cstdint>

#include "core/firmware_upgrade.h"
#include "fuzz_check.h"
#include "native/fakes.h"
#include "native/reference.h"
#include "sim/headset_sim.h"

namespace {

using obrint::fuzz::Check;

class Script {
 public:
  Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Next() { return next_ < size_ ? data_[next_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t next_ = 0;
};

// 0 and most values: honest; 1: refused before the headset; 2: a get's answer corrupted in its
// sum field; 3: the headset leaves the bus after the transfer.
class FuzzDevice : public obrint::HidDevice {
 public:
  FuzzDevice(std::unique_ptr<obrint::HidDevice> inner, Script& script, obrint::sim::Headset& h)
      : inner_(std::move(inner)), script_(script), headset_(h) {}
  bool GetFeature(std::uint8_t* report, std::size_t length) override {
    return Do([&] { return inner_->GetFeature(report, length); }, report, length);
  }
  bool SetFeature(const std::uint8_t* report, std::size_t length) override {
    return Do([&] { return inner_->SetFeature(report, length); }, nullptr, 0);
  }

 private:
  template <typename Transfer>
  bool Do(Transfer transfer, std::uint8_t* answer, std::size_t length) {
    const std::uint8_t choice = script_.Next() % 8;
    if (choice == 1) return false;
    const bool ok = transfer();
    if (choice == 2 && ok && answer && length > 5) answer[4] ^= 0x5A;
    if (choice == 3) headset_.Unplug();
    return ok;
  }
  std::unique_ptr<obrint::HidDevice> inner_;
  Script& script_;
  obrint::sim::Headset& headset_;
};

class FuzzLink : public obrint::sim::SimHidLink {
 public:
  FuzzLink(obrint::sim::Headset& headset, Script& script)
      : SimHidLink(headset), headset_(headset), script_(script) {}
  std::unique_ptr<obrint::HidDevice> OpenHidDevice(const std::string& path) override {
    if (script_.Next() % 8 == 1) return nullptr;
    auto inner = SimHidLink::OpenHidDevice(path);
    if (!inner) return nullptr;
    return std::make_unique<FuzzDevice>(std::move(inner), script_, headset_);
  }

 private:
  obrint::sim::Headset& headset_;
  Script& script_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return -1;
  const std::size_t imageSize = 1 + (data[0] | data[1] << 8) % 700;
  const std::uint8_t flags = data[2];
  const obrint::reference::Bytes image = obrint::reference::RandomBytes(imageSize, data[0]);
  obrint::sim::Headset headset(
      {.restartOnlyAsReport6 = (flags & 2) != 0,
       .startIn = flags & 4 ? obrint::sim::Firmware::kBoot : obrint::sim::Firmware::kApplication});
  Script script(data + 3, size - 3);
  FuzzLink link(headset, script);
  obrint::sim::SimClock clock(headset);
  obrint::fakes::FakeFileSystem files;
  files.Add("fw.bin", image);
  obrint::fakes::FakeUserInterface ui;
  ui.choices.push_back("fw.bin");
  ui.yesNoAnswer = flags & 1 ? obrint::kAnswerNo : obrint::kAnswerYes;
  obrint::HeadsetLocation location{.pid = headset.productId()};
  std::string imagePath;

  const auto outcome = obrint::UpgradeFirmware(link, clock, files, ui, location, imagePath);
  const bool succeeded = outcome == obrint::UpgradeOutcome::kSucceeded;
  Check(succeeded == (headset.flashed() == image), "success exactly when the image is flashed");
  Check(!succeeded || (ui.yesNoAnswer == obrint::kAnswerYes && !ui.boxes.empty() &&
                       ui.boxes.back().caption == "Reboot?"),
        "success only after a confirmed reboot");
  Check(link.openHandles() == 0 && !link.bound() && link.loads() == link.frees(),
        "the headset closed and the library released");
  Check(link.unboundTransfers() == 0, "no transfer while unbound");
  Check(files.openHandles() == 0, "the image file closed");
  Check(ui.caption == (succeeded ? "Update OK!" : "Update Err!") ||
            outcome == obrint::UpgradeOutcome::kBootAccessFailed ||
            outcome == obrint::UpgradeOutcome::kNoHeadset,
        "the caption tells the outcome");
  Check(succeeded || ui.boxes.empty() || ui.boxes.back().caption != "Reboot?",
        "a failure is told after the question");
  return 0;
}
