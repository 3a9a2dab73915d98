// The window's upgrade against the simulated headset, each open and transfer of which the input
// may refuse, corrupt or follow by the headset leaving the bus; the user may decline the reboot.
// Input: two bytes of image size, a byte of flags, then a byte per open or transfer (0 and most
// values honest, 1 refused, 2 a get's sum field corrupted, 3 gone after it; past the end honest).
//
// Invariants: the run succeeds exactly when the headset flashed the image, which the simulator
// does only after a Begin, every block, a matching total and the Reboot, in order; never without
// the confirmed reboot; every handle closed, the HID library released as often as bound and never
// used unbound, the image file closed; caption and last box agree with the outcome.
#include "presenters/firmware_upgrade.h"
#include "fuzz_check.h"
#include "native/fakes.h"
#include "native/reference.h"
#include "sim/headset_sim.h"

namespace {

using obrint::fuzz::Check;

class FuzzBus : public obrint::sim::SimBus {
 public:
  FuzzBus(obrint::sim::Headset& headset, const std::uint8_t* script, std::size_t size)
      : SimBus(headset), headset_(headset), script_(script), end_(script + size) {}
  std::unique_ptr<obrint::HidDevice> Open(const std::string& path) override {
    auto inner = Next() == 1 ? nullptr : SimBus::Open(path);
    return inner ? std::make_unique<Device>(std::move(inner), *this) : nullptr;
  }

 private:
  class Device : public obrint::HidDevice {
   public:
    Device(std::unique_ptr<obrint::HidDevice> inner, FuzzBus& link)
        : inner_(std::move(inner)), link_(link) {}
    bool GetFeature(std::uint8_t* report, std::size_t length) override {
      return Do([&] { return inner_->GetFeature(report, length); }, length > 5 ? report : nullptr);
    }
    bool SetFeature(const std::uint8_t* report, std::size_t length) override {
      return Do([&] { return inner_->SetFeature(report, length); }, nullptr);
    }

   private:
    template <typename Transfer>
    bool Do(Transfer transfer, std::uint8_t* answer) {
      const int choice = link_.Next();
      const bool ok = choice != 1 && transfer();
      if (choice == 2 && ok && answer) answer[4] ^= 0x5A;
      if (choice == 3) link_.headset_.Unplug();
      return ok;
    }
    std::unique_ptr<obrint::HidDevice> inner_;
    FuzzBus& link_;
  };
  int Next() { return script_ < end_ ? *script_++ % 8 : 0; }

  obrint::sim::Headset& headset_;
  const std::uint8_t* script_;
  const std::uint8_t* end_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return -1;
  const auto image = obrint::reference::RandomBytes(1 + (data[0] | data[1] << 8) % 700, data[0]);
  obrint::sim::Headset headset({.restartOnlyAsReport6 = (data[2] & 2) != 0,
                                .startIn = data[2] & 4 ? obrint::sim::Firmware::kBoot
                                                       : obrint::sim::Firmware::kApplication});
  FuzzBus bus(headset, data + 3, size - 3);
  obrint::sim::SimClock clock(headset);
  obrint::fakes::FakeFileSystem files;
  files.Add("fw.bin", image);
  obrint::fakes::FakeUserInterface ui;
  ui.choices.push_back("fw.bin");
  ui.yesNoAnswer = data[2] & 1 ? obrint::presenters::kAnswerNo : obrint::presenters::kAnswerYes;
  obrint::HeadsetLocation location{.pid = headset.productId()};
  std::string imagePath;

  const obrint::Status outcome =
      obrint::presenters::UpgradeFirmware(bus, clock, files, ui, location, imagePath);
  const bool succeeded = !outcome.failed();
  using obrint::Failure;
  const bool bootNotReached = !succeeded && (outcome.failure() == Failure::kRestartRefused ||
                                             outcome.failure() == Failure::kBootNotFound ||
                                             outcome.failure() == Failure::kBootNotOpened);
  Check(succeeded == (headset.flashed() == image), "success exactly when the image is flashed");
  Check(!succeeded || (ui.yesNoAnswer == obrint::presenters::kAnswerYes && ui.boxes.size() == 1 &&
                       ui.boxes[0].caption == "Reboot?"),
        "success only after a confirmed reboot, and nothing else asked");
  Check(bus.openHandles() == 0 && !bus.bound() && bus.loads() == bus.frees(),
        "the headset closed and the library released");
  Check(bus.unboundTransfers() == 0, "no transfer while unbound");
  Check(files.openHandles() == 0, "the image file closed");
  Check(ui.caption == (succeeded ? "Update OK!" : "Update Err!") || bootNotReached ||
            outcome == obrint::Status(Failure::kNoHeadset),
        "the caption tells the outcome");
  Check(succeeded || ui.boxes.empty() || ui.boxes.back().caption != "Reboot?",
        "a failure is told after the question");
  return 0;
}
